#pragma once

#include "controls/RecordPanel.h"

#include <QFrame>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace controls {
class BoundLineEdit;
class DBList;
} // namespace controls

namespace store {
class DataSource;
}

// The panels that lie inside the books window. Each builds its controls with their names; the
// window owns them and gives them their behaviour.
namespace books {

// The authors panel: every author of the catalogue (`authors`), an author's fields and its buttons.
class AuthorsPanel : public controls::RecordPanel {
    Q_OBJECT
  public:
    AuthorsPanel(QWidget* parent, store::DataSource* authors);
    controls::DBList* DBList3;
    controls::BoundLineEdit* Text1[3]; // Nome, Nato a, Il
    QPushButton* Command15; // X
    QPushButton* Command3;  // Nuovo / Annulla
    QPushButton* Command4;  // Modifica / Salva
    QPushButton* Command5;  // Elimina
    QPushButton* Command6;  // Inserisci
};

// The publishers panel: every publisher (`publishers`), a publisher's fields and its buttons.
class PublishersPanel : public controls::RecordPanel {
    Q_OBJECT
  public:
    PublishersPanel(QWidget* parent, store::DataSource* publishers);
    controls::DBList* DBList4;
    controls::BoundLineEdit* Text1_5; // Nome
    controls::BoundLineEdit* Text1_4; // Località
    controls::BoundLineEdit* Text1_3; // Note
    QPushButton* Command14; // X
    QPushButton* Command12; // Nuovo / Annulla
    QPushButton* Command11; // Modifica / Salva
    QPushButton* Command10; // Elimina
    QPushButton* Command9;  // Chiudi
};

// The search conditions: ten check boxes with their value boxes on two pages, and OR / AND.
class SearchPanel : public QFrame {
    Q_OBJECT
  public:
    explicit SearchPanel(QWidget* parent);
    QCheckBox* Check1[10];
    QLineEdit* Text2[10];
    QLabel* Label5[10];
    QRadioButton* Option1[2];
    QWidget* Picture6; // second page
    QPushButton* Command2;
};

} // namespace books
