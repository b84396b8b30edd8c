#include "people/FrmEditori.h"

#include "app/Modulo1.h"
#include "controls/DBList.h"
#include "store/Query.h"
#include "store/Sql.h"

namespace {

using people::twips;

people::RecordWindow::Description publishers()
{
    people::RecordWindow::Description d;
    d.objectName = QStringLiteral("FrmEditori");
    d.caption = QStringLiteral("Editori");
    d.title = QStringLiteral("EDITORI");
    d.titleColour = QColor(255, 255, 192);
    d.titleBox = twips(360, 240, 3015, 495);
    d.allRecords = sql::AllPublishers;
    d.keyField = QStringLiteral("id_editore");
    d.nameField = QStringLiteral("nome");
    d.listPanel = twips(240, 840, 2895, 4215);
    d.listBox = twips(0, 0, 2775, 3765);
    d.counterBox = twips(0, 3840, 2775, 375);
    d.buttonPanel = twips(240, 5520, 2895, 495);
    d.frameBox = twips(120, 5280, 3135, 1575);
    d.fieldPanel = twips(3480, 360, 8175, 3135);
    d.fields = {
        {QStringLiteral("NOME"), QStringLiteral("nome"), 50, false, true, 120, twips(1320, 0, 6615, 375)},
        {QStringLiteral("LOCALITA'"), QStringLiteral("residenza"), 50, false, false, 600, twips(1320, 480, 6615, 315)},
        {QStringLiteral("INDIRIZZO"), QStringLiteral("indirizzo"), 50, false, false, 1080, twips(1320, 960, 6615, 315)},
        {QStringLiteral("TELEFONO"), QStringLiteral("telefono"), 12, false, false, 1560, twips(1320, 1440, 2775, 315)},
        {QStringLiteral("NOTE"), QStringLiteral("note"), 0, true, false, 2040, twips(1320, 1920, 6615, 915)},
    };
    d.titles = {QStringLiteral("TITOLI"),
                twips(3480, 3600, 3255, 255),
                twips(3480, 3840, 3615, 2985),
                twips(3480, 6840, 2655, 375),
                QStringLiteral("titolo"),
                QStringLiteral("id"),
                QStringLiteral("TITOLO"),
                QStringLiteral("Biblioteca"),
                twips(6120, 6840, 975, 375)};
    d.others = {QStringLiteral("AUTORI"),
                twips(8040, 3600, 3255, 255),
                twips(7920, 3840, 3735, 2985),
                twips(7920, 6840, 2775, 375),
                QStringLiteral("autore.nome"),
                QStringLiteral("autore.id_autore"),
                QStringLiteral("AUTORE"),
                QStringLiteral("Autore"),
                twips(10680, 6840, 975, 375)};
    d.titlesOf = sql::titlesOfPublisher;
    d.othersOf = sql::authorsOfPublisher;
    d.deleteQuestion = QStringLiteral("Eliminare L'Editore ");
    d.listTitle = QStringLiteral("ELENCO EDITORI ");
    d.listColumns = printing::publisherColumns();
    d.printName = QStringLiteral("Editori");
    return d;
}

} // namespace

FrmEditori::FrmEditori(QWidget* parent) : RecordWindow(publishers(), parent) {}

void FrmEditori::setCurrentRecord(qint64 key)
{
    Modulo1::IdEditoreCorrente = qint32(key);
    Modulo1::IdLibroCorrente = 0;
    Modulo1::IdAutoreCorrente = 0;
}

void FrmEditori::DBList3_Click()
{
    Modulo1::IdAutoreCorrente = DBList3->boundText().toLongLong();
}

