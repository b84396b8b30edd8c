#pragma once

#include <QWidget>
#include <array>

class QComboBox;
class QPushButton;

namespace controls {
class BarcodeLabel;
class BoundLineEdit;
class DBCombo;
class DBList;
} // namespace controls

namespace store {
class DataSource;
}

namespace books {

// The record panel of the books window ("Picture2"): the fields of the shown book with their input
// rules, the genre, state and publisher choosers, the code and its bar code, and the book's
// authors. Usable only while the book is edited; readable always.
class BookFields : public QWidget {
    Q_OBJECT
  public:
    // `book` feeds the fields, `genres` the genre chooser, `publishers` the publisher chooser,
    // `bookAuthors` the list of the book's authors.
    BookFields(QWidget* parent, store::DataSource* book, store::DataSource* genres, store::DataSource* publishers,
               store::DataSource* bookAuthors);

    std::array<controls::BoundLineEdit*, 19> TxtFields{};
    controls::BoundLineEdit* TxtCodice;
    controls::BarcodeLabel* Label4;
    controls::DBCombo* DBCombo2; // genre
    controls::DBCombo* DBCombo3; // publisher
    QComboBox* Combo1;           // state of preservation
    controls::DBList* DBList2;   // the book's authors
    QPushButton* Command8;       // Aggiungi author
    QPushButton* Command7;       // Elimina author
    QPushButton* Command13;      // Nuovo publisher

    // Gives the fields that store "0" when empty their "0" (the euro, lire and page fields).
    void fillEmptyAmounts();
    // The fields as they are read, row by row and left to right, for the window's Tab order; the
    // code, which the program gives, is not among them.
    QList<QWidget*> readingOrder() const;

  private:
    void build(store::DataSource* book, store::DataSource* genres, store::DataSource* publishers,
               store::DataSource* bookAuthors);
    void Combo1_Change();
    void DBCombo2_Change();
};

} // namespace books
