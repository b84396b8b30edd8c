#pragma once

#include "controls/RecordPanel.h"

#include <QtGlobal>

class QPushButton;

namespace controls {
class BoundLineEdit;
class DBList;
} // namespace controls

namespace store {
class DataSource;
}

namespace books {

class BookFields;

// The authors of a book. The authors panel ("Frame1") lists every author of the catalogue
// (`authors`), where one is created, changed or deleted, and linked to the shown book (`book`) with
// "Inserisci"; beside the book's fields, the book's authors (`bookAuthors`) can be unlinked. Links
// and authors are written at once, whatever the book's own save or cancel.
class AuthorsPanel : public controls::RecordPanel {
    Q_OBJECT
  public:
    AuthorsPanel(QWidget* parent, store::DataSource* authors, store::DataSource* bookAuthors, store::DataSource* book,
                 BookFields* fields);

    controls::DBList* DBList3;
    controls::BoundLineEdit* Text1[3]; // Nome, Nato a, Il
    QPushButton* Command15;            // X
    QPushButton* Command3;             // Nuovo / Annulla
    QPushButton* Command4;             // Modifica / Salva
    QPushButton* Command5;             // Elimina
    QPushButton* Command6;             // Inserisci

    // The panel's controls as they are read, for the window's Tab order.
    QList<QWidget*> readingOrder() const;

    // The book's authors list shows the authors of book `bookId`.
    void showAuthorsOf(qint64 bookId);

    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click(); // Inserisci
    void Command7_Click(); // unlink the author selected among the book's
    void Command8_Click(); // Aggiungi: opens the panel
    void Command15_Click();
    void DBList2_Click();
    void DBList3_Click();

  private:
    void build();
    void connectHandlers();
    qint64 bookKey() const;

    store::DataSource* m_bookAuthors;
    store::DataSource* m_book;
    BookFields* m_fields;
};

} // namespace books
