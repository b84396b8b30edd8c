#pragma once

#include <QWidget>

class QPushButton;

// The books window "Biblioteca": the title list and the record of the selected book.
class FrmBiblio : public QWidget {
    Q_OBJECT
public:
    explicit FrmBiblio(QWidget* parent = nullptr);
    ~FrmBiblio() override;

    // Opens the archive named by Modulo1::PercorsoArchivio and shows the first book.
    // Throws store::DbError when the archive cannot be read.
    void Form_Load();
    // Shows the book whose key is the title list's bound value.
    void DBList1_Click();
    // Loads the floor plan of the open archive into both plan views.
    void CaricaPianta();
    // An edit is open exactly when CmdNuovo reads "Annulla".
    bool isEditing() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};
