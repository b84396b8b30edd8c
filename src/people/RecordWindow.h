#pragma once

#include "app/ChildWindows.h"
#include "app/WindowClosing.h"
#include "controls/RecordPanel.h"
#include "printing/Layouts.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;

namespace store {
class Archive;
class DataSource;
struct Query;
} // namespace store

namespace people {

// A window of the frame over the records of one table (the authors, the publishers): the list
// of every record with its counter, the record's fields, the Nuovo/Annulla · Modifica/Salva ·
// Elimina buttons, and two lists below: the titles linked to the record and the records of the
// other kind linked to those titles, each with its counter and a button that shows the selected
// entry in its own window. Positions are given in twips, 15 to a pixel.
//
// The window refuses to close while an edit is open, so nothing typed is lost without a word; a
// failed save (someone else changed or deleted the record, a busy archive) leaves the edit open.
class RecordWindow : public controls::RecordPanel, public windows::EditingWindow {
    Q_OBJECT
  public:
    struct Field {
        QString caption;
        QString column;
        int maxLength = 0; // 0: no limit
        bool multiLine = false;
        bool navy = false; // the name: navy, 9.75 points
        int labelTop = 0;
        QRect box; // in the field panel
    };
    struct Linked {
        QString heading;
        QRect headingBox;
        QRect listBox;
        QRect counterBox;
        QString listField;
        QString keyField;
        QString button;
        QString buttonTip;
        QRect buttonBox;
    };
    struct Description {
        QString objectName;
        QString caption;    // the window's title
        QString title;      // the big label
        QColor titleColour; // its background
        QRect titleBox;
        QString allRecords; // every record, in name order
        QString keyField;
        QString nameField;
        QRect listPanel, listBox, counterBox;
        QRect buttonPanel, frameBox;
        QRect fieldPanel;
        QList<Field> fields;
        Linked titles;
        Linked others;
        std::function<store::Query(qint64)> titlesOf;
        std::function<store::Query(qint64)> othersOf;
        QString deleteQuestion; // the question's text before the record's name
        QString listTitle;      // the title of the printed list
        QList<printing::ListColumn> listColumns;
        QString printName;      // the name a printout is offered under as a PDF file
    };

    ~RecordWindow() override;

    // Opens the archive named by Modulo1::PercorsoArchivio, lists its records and shows the first.
    // Throws store::DbError when the archive cannot be read.
    void Form_Load();

    // The record whose key is the list's bound value: its fields, its titles and the other
    // records of those titles.
    void DBList1_Click();
    void DBList2_Click();
    virtual void DBList3_Click() = 0;
    void CmdNuovo_Click();
    void CmdModifica_Click();
    void Cmdelimina_Click();
    // "TITOLO" (0) and the button of the other kind (1).
    void Command2_Click(int index);
    void Form_KeyUp(int keyCode);
    // The print buttons: "STAMPA SCHEDA" (0), "STAMPA ELENCO" (1).
    void Command1_Click(int index);

    // Selects the record with `key` in the list and shows it, as another window's cross-reference
    // does. False when the list has no such record (the list and the record are left as they were).
    bool showRecord(qint64 key);

    // Reads the list again (records added by an import) and shows the record shown before, or the
    // first; nothing moves while an edit is open.
    void readAgain();

    // Closes the window (its sub-window in the frame); the close guard decides. False when it stays.
    bool closeWindow();

    void showSelected() override;
    bool hasOpenEdit() const override { return isEditing(); }

    store::DataSource* Data1;
    store::DataSource* Data2;
    store::DataSource* Data3;
    controls::DBList* DBList1;
    controls::DBList* DBList2;
    controls::DBList* DBList3;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* CmdNuovo;
    QPushButton* CmdModifica;
    QPushButton* Cmdelimina;
    std::array<QPushButton*, 2> Command1{}; // "STAMPA SCHEDA", "STAMPA ELENCO"
    std::array<QPushButton*, 2> Command2{}; // "TITOLO", the other kind
    QList<QWidget*> Text1;

    const std::shared_ptr<store::Archive>& archive() const { return m_archive; }
    const Description& description() const { return m_description; }

  protected:
    explicit RecordWindow(const Description& description, QWidget* parent = nullptr);

    // The process-wide selection values for the record `key` (the titles and others unselected).
    virtual void setCurrentRecord(qint64 key) = 0;
    // The window of the other kind, and the message when it has no such record.
    virtual childwindows::Kind otherKind() const = 0;
    virtual QString missingOther() const = 0;

    void closeEvent(QCloseEvent* event) override;

  private:
    void build();
    void buildLinked(const Linked& linked, controls::DBList*& list, QLabel*& counter, QPushButton*& button,
                     const QString& suffix);
    void connectHandlers();
    // Runs a linked list's query for `key`; no key leaves it empty.
    void showLinked(store::DataSource* source, const std::function<store::Query(qint64)>& query, qint64 key);
    void showCount(store::DataSource* source, QLabel* counter);
    // Shows no record at all: empty fields and linked lists.
    void showNoRecord();
    // Shows `key` in the window of `kind` (loaded when closed); false when that window has no such
    // entry, and then a window loaded for this is let go unseen.
    bool showInWindow(childwindows::Kind kind, qint64 key);

    Description m_description;
    std::shared_ptr<store::Archive> m_archive;
    std::pair<qint64, qint64> m_listStamp{-1, -1}; // the archive when the list was read
};

// The font of the record windows, bold, at `points`.
QFont windowFont(qreal points);
// A rectangle in twips as pixels.
QRect twips(int left, int top, int width, int height);

} // namespace people
