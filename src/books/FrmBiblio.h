#pragma once

#include "app/WindowClosing.h"

#include <QPoint>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace controls {
class DBList;
}

namespace store {
class Archive;
class DataSource;
} // namespace store

namespace books {
class AuthorsPanel;
class BookFields;
class FloorPlan;
class LoanLine;
class PublishersPanel;
class QuickFind;
class SearchPanel;
class TitleList;
} // namespace books

// The books window "Biblioteca": the title list and the record of the selected book, with its
// authors, publisher, shelf marker and bar code; the creation, editing and deletion of books; the
// live search.
//
// While a book is edited the title list and the search are disabled, so nothing moves the window
// off the book being edited. The window holds its edit state; the buttons' captions follow it.
class FrmBiblio : public QWidget, public windows::EditingWindow {
    Q_OBJECT
  public:
    explicit FrmBiblio(QWidget* parent = nullptr);
    ~FrmBiblio() override;

    // Opens the archive named by Modulo1::PercorsoArchivio and shows the first book.
    // Throws store::DbError when the archive cannot be read.
    void Form_Load();
    // Shows the book whose key is the title list's bound value.
    void DBList1_Click();
    // Selects the title `id` in the list and shows the book, as another window's cross-reference
    // does. False when the list has no such title (a search may hide it): the list and the book
    // shown stay as they were.
    bool showTitle(qint64 id);
    // A book's key read by a scanner (into "Trova" or the key field): that book is shown.
    void showScannedBook(qint64 key);
    // The keys of the books of the title list as it is shown (a search's result), once each, in
    // the list's order.
    QList<qint64> shownBookKeys() const;
    // Reads the list, the choosers and the book shown again (books written by another window,
    // an import); the book shown stays when the list still holds it. Nothing moves while an edit
    // is open.
    void readAgain();
    // Loads the floor plan of the open archive into both plan views.
    void CaricaPianta();
    // A book is being edited ("Nuovo" or "Modifica" pressed, not yet saved or cancelled).
    bool isEditing() const { return m_editing; }
    // A book, an author or a publisher is being edited: the panels' edits outlive the book's.
    bool hasOpenEdit() const override;

    // The edit buttons: "Nuovo"/"Annulla", "Modifica"/"Salva", "Elimina".
    void CmdNuovo_Click();
    void CmdModifica_Click();
    void Cmdelimina_Click();
    // The print buttons: "STAMPA SCHEDA" (0), "STAMPA ELENCO" (1), "STAMPA ETICHETTE" (2).
    void Command1_Click(int index);

    // Handlers of the window's events.
    void Option2_Click(int index);
    void Data6_Reposition();
    void DBList1_MouseMove();
    void Timer1_Timer();
    void Form_KeyUp(int keyCode);
    // Closes the window (its sub-window when it lives in the main window); the close guard decides.
    // Returns false when the window stays open.
    bool closeWindow();

    // Data sources, named as the window names them.
    store::DataSource* Data1;
    store::DataSource* Data2;
    store::DataSource* Data3;
    store::DataSource* Data4;
    store::DataSource* Data5;
    store::DataSource* Data6;

    books::FloorPlan* floorPlan() const { return m_plan; }
    books::BookFields* fields() const { return m_fields; }
    books::SearchPanel* searchPanel() const { return m_search; }
    books::QuickFind* quickFind() const { return m_find; }
    books::AuthorsPanel* authorsPanel() const { return Frame1; }
    books::PublishersPanel* publishersPanel() const { return Frame2; }
    // The window's one connection to the archive, shared by its data sources.
    const std::shared_ptr<store::Archive>& archive() const { return m_archive; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Activation of the window's sub-window in the frame.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void buildControls();
    void connectHandlers();
    void Form_Activate();
    // Reads the author, genre and publisher choosers again when the archive changed since they
    // were read (another window or computer added or deleted authors or publishers), unless an
    // edit is open.
    void refreshChoosers();
    // Shows the book's publisher in the chooser (and in the publishers panel when no publisher
    // edit is open there).
    void showPublisher(const QVariant& publisherKey);
    // Selects the title with `key` in the list and shows it (none for an empty key).
    void selectTitle(const QString& key);
    // Shows the book `id`: its record, authors, marker and publisher.
    void showBook(qint64 id);
    // Shows the authors, marker and publisher of the record's current row (or edit).
    void showBookDetails();
    // Shows no book at all.
    void showNoBook();
    // The captions and the controls usable while browsing or editing.
    void showEditState(bool editing);
    void enterEditMode();
    void startNewBook();
    void saveBook();
    void cancelBook();
    // The photo viewer, when open, shows the current book.
    void showPhoto();

    std::shared_ptr<store::Archive> m_archive;
    std::pair<qint64, qint64> m_choosersStamp{-1, -1};
    bool m_editing = false;
    qint64 m_newBook = 0;  // the key of the book "Nuovo" stored, until it is saved or cancelled
    QString m_genreAtEdit; // the genre when the edit began
    // The place on the plan and the publisher when the edit began: a save writes them only when
    // the user changed them, never over another user's.
    QPoint m_placeAtEdit;
    QString m_publisherAtEdit;
    books::TitleList* m_titles;
    books::LoanLine* m_loanLine;
    controls::DBList* DBList1;
    std::array<QRadioButton*, 3> Option2{};
    QPushButton* CmdNuovo;
    QPushButton* CmdModifica;
    QPushButton* Cmdelimina;
    books::BookFields* m_fields;
    books::AuthorsPanel* Frame1;
    books::PublishersPanel* Frame2;
    books::SearchPanel* m_search;
    books::QuickFind* m_find;
    books::FloorPlan* m_plan;
    QTimer* Timer1;
};
