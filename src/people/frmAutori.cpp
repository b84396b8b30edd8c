#include "people/frmAutori.h"

#include "app/Modulo1.h"
#include "controls/DBList.h"
#include "store/Query.h"
#include "store/Sql.h"

#include <cmath>

namespace {

using people::twips;

people::RecordWindow::Description authors()
{
    people::RecordWindow::Description d;
    d.objectName = QStringLiteral("frmAutori");
    d.caption = QStringLiteral("Autori");
    d.title = QStringLiteral("AUTORI");
    d.titleColour = QColor(192, 255, 192);
    d.titleBox = twips(120, 240, 3015, 495);
    d.allRecords = sql::AllAuthors;
    d.keyField = QStringLiteral("id_autore");
    d.nameField = QStringLiteral("nome");
    d.listPanel = twips(240, 840, 2895, 3975);
    d.listBox = twips(0, 0, 2895, 3570);
    d.counterBox = twips(0, 3600, 2895, 255);
    d.buttonPanel = twips(240, 5280, 2895, 495);
    d.frameBox = twips(120, 5160, 3135, 1575);
    d.fieldPanel = twips(3480, 360, 7815, 3255);
    d.fields = {
        {QStringLiteral("NOME COGNOME"), QStringLiteral("nome"), 100, false, true, 120, twips(1200, 120, 6495, 375)},
        {QStringLiteral("DATA DI NASCITA"), QStringLiteral("data_nascita"), 10, false, false, 720,
         twips(1200, 720, 2055, 375)},
        {QStringLiteral("LUOGO DI NASCITA"), QStringLiteral("luogo_nascita"), 50, false, false, 1320,
         twips(1200, 1320, 5055, 375)},
        {QStringLiteral("NOTE"), QStringLiteral("note"), 0, true, false, 1920, twips(1200, 1920, 6375, 1095)},
    };
    d.titles = {QStringLiteral("TITOLI"),
                twips(3480, 3840, 3375, 255),
                twips(3480, 4080, 3375, 2790),
                twips(3480, 6840, 2535, 375),
                QStringLiteral("titolo"),
                QStringLiteral("id"),
                QStringLiteral("TITOLO"),
                QStringLiteral("Biblioteca"),
                twips(6000, 6840, 855, 375)};
    d.others = {QStringLiteral("EDITORI"),
                twips(7920, 3840, 3255, 255),
                twips(7920, 4080, 3375, 2790),
                twips(7920, 6840, 2415, 375),
                QStringLiteral("editori.nome"),
                QStringLiteral("id_editore"),
                QStringLiteral("EDITORE"),
                QStringLiteral("Editore"),
                twips(10320, 6840, 975, 375)};
    d.titlesOf = sql::titlesOfAuthor;
    d.othersOf = sql::publishersOfAuthor;
    d.deleteQuestion = QStringLiteral("Eliminare l'autore ");
    d.listTitle = QStringLiteral("ELENCO AUTORI ");
    d.listColumns = printing::authorColumns();
    d.printName = QStringLiteral("Autori");
    return d;
}

} // namespace

frmAutori::frmAutori(QWidget* parent) : RecordWindow(authors(), parent) {}

void frmAutori::setCurrentRecord(qint64 key)
{
    Modulo1::IdAutoreCorrente = key;
    Modulo1::IdLibroCorrente = 0;
    Modulo1::IdEditoreCorrente = 0;
}

void frmAutori::DBList3_Click()
{
    Modulo1::IdEditoreCorrente = qint32(std::llround(DBList3->boundText().toDouble()));
}

