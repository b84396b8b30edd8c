#pragma once

#include "controls/RecordPanel.h"

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

// The publisher of a book. The publisher chooser beside the book's fields lists every publisher;
// for a new book, choosing one fills the place of printing with its town. The publishers panel
// ("Frame2") creates, changes and deletes publishers; the chooser offers a new name at once.
class PublishersPanel : public controls::RecordPanel {
    Q_OBJECT
  public:
    PublishersPanel(QWidget* parent, store::DataSource* publishers, BookFields* fields);

    controls::DBList* DBList4;
    controls::BoundLineEdit* Text1_5; // Nome
    controls::BoundLineEdit* Text1_4; // Località
    controls::BoundLineEdit* Text1_3; // Note
    QPushButton* Command14;           // X
    QPushButton* Command12;           // Nuovo / Annulla
    QPushButton* Command11;           // Modifica / Salva
    QPushButton* Command10;           // Elimina
    QPushButton* Command9;            // Chiudi

    // The panel's controls as they are read, for the window's Tab order.
    QList<QWidget*> readingOrder() const;

    void DBCombo3_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Command13_Click(); // Nuovo beside the chooser: opens the panel
    void Command14_Click();
    void DBList4_Click();

  private:
    void build();
    void connectHandlers();

    BookFields* m_fields;
};

} // namespace books
