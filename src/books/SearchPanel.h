#pragma once

#include "store/Query.h"

#include <QFrame>
#include <QTimer>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedLayout;

namespace store {
class DataSource;
}

namespace books {

// The search of the books window: ten conditions on two pages, each a check box and a value, all
// joined by OR or by AND. The title list follows them as they change: at once when a box is ticked
// or OR/AND chosen, and after a pause in the typing when a value is typed, so that fast typing
// never queues searches.
class SearchPanel : public QFrame {
    Q_OBJECT
  public:
    // `titles` is the title list's data source; `showFirst` is given the key of the first title
    // found (empty when none) to select and show it.
    SearchPanel(QWidget* parent, store::DataSource* titles, std::function<void(const QString&)> showFirst);

    QCheckBox* Check1[10];
    QLineEdit* Text2[10];
    QLabel* Label5[10];
    QRadioButton* Option1[2]; // OR, AND
    QWidget* Picture6;        // second page
    QPushButton* Command2;    // >>> / <<<

    // Rebuilds the title list from the conditions and shows its first title.
    void Aggiorna();
    // The conditions, OR/AND and the page button as they are read, for the window's Tab order.
    QList<QWidget*> readingOrder() const;
    // A search is open while a condition is ticked: the title list shows only what it found.
    bool isOpen() const;
    // Escape: unticks the conditions, their values kept for another time, and lists every title
    // again with `keep` (the title shown) selected; the first title when `keep` is empty.
    void closeSearch(const QString& keep);
    // Rebuilds the title list from the conditions, and nothing more.
    void refreshTitles();
    // Whether values were typed that the list does not follow yet (the typing pause, or an edit
    // that began meanwhile); the caller then rebuilds the list itself.
    bool consumePending();
    void Check1_Click(int index);
    void Text2_Change(int index);
    void Option1_Click(int index);
    void Command2_Click();
    // The quick find's text: the list keeps only the books holding its words as well, after the
    // same pause in the typing as a value (an empty text, at once).
    void setWords(const QString& words);
    const QString& words() const { return m_words; }
    // The query of the last rebuild.
    const store::Query& lastQuery() const { return m_lastQuery; }
    // The end of the pause in the typing, as its timer tells it (tests end it at once).
    void typingPauseEnded();
    // True while typed values wait for the pause before the rebuild.
    bool rebuildPending() const { return m_typingPause.isActive() || m_pending; }

  private:
    void build();

    store::DataSource* m_titles;
    QStackedLayout* m_pages = nullptr;
    std::function<void(const QString&)> m_showFirst;
    QTimer m_typingPause;
    bool m_pending = false; // a rebuild waits for the edit under way to end
    store::Query m_lastQuery;
    QString m_words;
};

} // namespace books
