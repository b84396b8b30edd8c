#pragma once

#include <QWidget>
#include <array>
#include <memory>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace controls {
class BarcodeLabel;
class BoundLineEdit;
class DBCombo;
class DBList;
} // namespace controls

namespace store {
class Archive;
class DataSource;
} // namespace store

namespace books {
class AuthorsPanel;
class FloorPlan;
class PublishersPanel;
class SearchPanel;
} // namespace books

// The books window "Biblioteca": the title list and the record of the selected book, with its
// authors, publisher, shelf marker and bar code.
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
    // The window's one connection to the archive, shared by its data sources.
    const std::shared_ptr<store::Archive>& archive() const { return m_archive; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void buildControls();
    void connectHandlers();
    void Form_Activate();
    // Shows the book's publisher in the chooser (and in the publishers panel when no publisher
    // edit is open there).
    void showPublisher(const QVariant& publisherKey);

    std::shared_ptr<store::Archive> m_archive;
    controls::DBList* DBList1;
    controls::DBList* DBList2;
    QLabel* Label2;
    std::array<QRadioButton*, 3> Option2{};
    QWidget* Picture2; // record panel
    std::array<controls::BoundLineEdit*, 19> TxtFields{};
    controls::BoundLineEdit* TxtCodice;
    controls::BarcodeLabel* Label4;
    controls::DBCombo* DBCombo2;
    controls::DBCombo* DBCombo3;
    QComboBox* Combo1;
    QPushButton* CmdNuovo;
    QPushButton* CmdModifica;
    QPushButton* Cmdelimina;
    QPushButton* Command8;  // Aggiungi author
    QPushButton* Command7;  // Elimina author
    QPushButton* Command13; // Nuovo publisher
    std::array<QPushButton*, 2> Command1{};
    books::AuthorsPanel* Frame1;
    books::PublishersPanel* Frame2;
    books::SearchPanel* m_search;
    books::FloorPlan* m_plan;
    QTimer* Timer1;
};
