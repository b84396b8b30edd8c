#pragma once

#include <QWidget>

class QLineEdit;

namespace books {

class SearchPanel;

// The quick find above the title list: the words typed in "Trova" keep in the list only the books
// whose title, authors, publisher, subject, place or notes hold them, in any order, each as the
// start of a word, whatever the case and the accents. It narrows the list together with the search
// panel's conditions, through the panel, so that it waits as the panel does while a book is edited.
// Esc empties it (and the list shows every title the conditions give); with nothing typed, Esc is
// the window's.
//
// A scanner reading a book's label types the key's digits and Enter: Enter on a text that is a
// book's key, and nothing else, asks the window for that book (keyEntered). Digits typed into the
// record's key field, which cannot be edited, come here, so the key field takes a scan too.
class QuickFind : public QWidget {
    Q_OBJECT
  public:
    QuickFind(QWidget* parent, SearchPanel* search);

    // Digits typed into `keyField` start a key here.
    void acceptScansFrom(QWidget* keyField);

    QLineEdit* TxtTrova;

  signals:
    void keyEntered(qint64 key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    SearchPanel* m_search;
    QWidget* m_keyField = nullptr;
};

} // namespace books
