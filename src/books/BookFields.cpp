#include "books/BookFields.h"

#include "app/Guard.h"
#include "controls/Barcode.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "controls/ReadingOrder.h"
#include "store/DataSource.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace books {
namespace {

using controls::captionFor;
using controls::FieldRule;
using controls::named;
using Number = FieldRule::Number;

struct FieldSpec {
    const char* field; // empty: not bound
    const char* caption;
    FieldRule rule;
};

const QString kDigits = QStringLiteral("0123456789");

FieldRule typed(const QString& accepted = {})
{
    FieldRule rule;
    rule.accepted = accepted;
    return rule;
}

FieldRule amount(Number number, const QString& accepted)
{
    FieldRule rule;
    rule.accepted = accepted;
    rule.upperCase = number == Number::Whole;
    rule.number = number;
    rule.selectOnEntry = true;
    rule.whenEmptyOnSave = QStringLiteral("0");
    return rule;
}

FieldRule limited(int maxLength)
{
    FieldRule rule;
    rule.maxLength = maxLength;
    return rule;
}

// The record fields, by index of TxtFields, with their input rules.
const std::array<FieldSpec, 19>& fieldSpecs()
{
    static const std::array<FieldSpec, 19> specs{{
        {"TITOLO", "TITOLO", typed()},
        {"POSIZIONE", "POSIZ.", typed()},
        {"", "GENERE", typed()},
        {"ARGOMENTO", "ARGOMENTO", typed()},
        {"LUOGO_STAMPA", "LUOGO DI STAMPA", typed()},
        {"ANNO", "ANNO", typed()},
        {"EDIZIONE", "EDIZ.", typed()},
        {"DATA_ACQUISTO", "DATA ACQUISTO", typed(kDigits + QStringLiteral("/"))},
        // Its keys take the decimal separator of the regional settings too (below).
        {"COSTO_e", "EURO", amount(Number::Euro, kDigits + QStringLiteral("-"))},
        {"COSTO_L", "LIRE", amount(Number::Lire, kDigits)},
        {"INSERITO_IN", "INSERITO IN", typed()},
        {"PERIODICO", "PERIODICI", typed()},
        {"ANNATA_NUM", "ANNATA/NUM", typed()},
        {"NOTE", "NOTE", typed()},
        {"POSIZIONE_ATTUALE", "POSIZIONE", typed()},
        {"STATO", "STATO CONSERVAZ.", limited(20)},
        {"ID_Edizione", "EDITORE", typed()},
        {"cod_biblio", "COD.", typed()},
        {"Num_pag", "PAG.", amount(Number::Whole, kDigits)},
    }};
    return specs;
}

} // namespace

BookFields::BookFields(QWidget* parent, store::DataSource* book, store::DataSource* genres,
                       store::DataSource* publishers, store::DataSource* bookAuthors)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Picture2"));
    build(book, genres, publishers, bookAuthors);
}

void BookFields::build(store::DataSource* book, store::DataSource* genres, store::DataSource* publishers,
                       store::DataSource* bookAuthors)
{
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < 19; ++i) {
        const FieldSpec& entry = fieldSpecs()[i];
        auto* edit = named(new controls::BoundLineEdit(this), QStringLiteral("TxtFields_%1").arg(i));
        FieldRule rule = entry.rule;
        if (rule.number == Number::Euro) {
            rule.accepted += QLocale().decimalPoint(); // "," with Italian settings
        }
        edit->setRule(rule);
        // Named even where it lies hidden under its chooser; a caption names it again where shown.
        edit->setAccessibleName(QString::fromLatin1(entry.caption));
        const QString field = QString::fromLatin1(entry.field);
        if (!field.isEmpty()) {
            edit->bindTo(book, field);
        }
        TxtFields[i] = edit;
    }

    DBCombo2 = named(new controls::DBCombo(this), QStringLiteral("DBCombo2"));
    DBCombo2->setEditable(true);
    DBCombo2->setRowSource(genres);
    DBCombo2->setListField(QStringLiteral("genere"));
    DBCombo2->setBoundColumn(QStringLiteral("genere"));
    new controls::ComboFieldBinding(DBCombo2, book, QStringLiteral("genere"));
    controls::applyFieldColours(DBCombo2);
    guard::connect(DBCombo2->lineEdit(), &QLineEdit::textEdited, this, [this] { DBCombo2_Change(); });
    Combo1 = named(new QComboBox(this), QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->addItems({QStringLiteral("PESSIMO"), QStringLiteral("MALTENUTO"), QStringLiteral("DISCRETO"),
                      QStringLiteral("BUONO"), QStringLiteral("OTTIMO"), QStringLiteral("NUOVO!")});
    Combo1->lineEdit()->setMaxLength(20);
    new controls::ComboFieldBinding(Combo1, book, QStringLiteral("stato"));
    controls::applyFieldColours(Combo1);
    guard::connect(Combo1->lineEdit(), &QLineEdit::textEdited, this, [this] { Combo1_Change(); });
    DBCombo3 = named(new controls::DBCombo(this), QStringLiteral("DBCombo3"));
    DBCombo3->setRowSource(publishers);
    DBCombo3->setListField(QStringLiteral("nome"));
    DBCombo3->setBoundColumn(QStringLiteral("id_editore"));
    controls::applyFieldColours(DBCombo3);
    Command13 = named(new QPushButton(QStringLiteral("Nuovo"), this), QStringLiteral("Command13"));
    Command13->setAccessibleName(QStringLiteral("Nuovo editore"));
    TxtCodice = named(new controls::BoundLineEdit(this), QStringLiteral("TxtCodice"));
    FieldRule key;
    key.upperCase = false;
    key.number = Number::Whole;
    TxtCodice->setRule(key);
    TxtCodice->bindTo(book, QStringLiteral("ID"));
    TxtCodice->setReadOnly(true);
    controls::notTabStop(TxtCodice);
    Label4 = named(new controls::BarcodeLabel(this), QStringLiteral("Label4"));
    Label4->setMinimumHeight(44);
    DBList2 = named(new controls::DBList(this), QStringLiteral("DBList2"));
    DBList2->setRowSource(bookAuthors);
    DBList2->setListField(QStringLiteral("nome"));
    DBList2->setBoundColumn(QStringLiteral("id_autore"));
    DBList2->setMaximumHeight(90);
    Command8 = named(new QPushButton(QStringLiteral("Aggiungi"), this), QStringLiteral("Command8"));
    Command8->setAccessibleName(QStringLiteral("Aggiungi autore"));
    Command7 = named(new QPushButton(QStringLiteral("Elimina"), this), QStringLiteral("Command7"));
    Command7->setAccessibleName(QStringLiteral("Elimina autore"));

    auto label = [this](int index, QWidget* buddy) {
        return captionFor(this, QStringLiteral("Label1_%1").arg(index),
                          QString::fromLatin1(fieldSpecs()[index].caption), buddy);
    };
    auto pair = [&](int row, int column, int index, QWidget* field, int span = 1) {
        grid->addWidget(label(index, field), row, column);
        grid->addWidget(field, row, column + 1, 1, span);
    };
    pair(0, 0, 0, TxtFields[0], 3);
    pair(1, 0, 1, TxtFields[1]);
    pair(1, 2, 2, DBCombo2);
    pair(2, 0, 3, TxtFields[3]);
    auto* publisher = new QHBoxLayout;
    publisher->addWidget(DBCombo3, 1);
    publisher->addWidget(Command13);
    grid->addWidget(label(16, DBCombo3), 2, 2);
    grid->addLayout(publisher, 2, 3);
    pair(3, 0, 4, TxtFields[4]);
    pair(3, 2, 5, TxtFields[5]);
    pair(4, 0, 6, TxtFields[6]);
    pair(4, 2, 7, TxtFields[7]);
    pair(5, 0, 8, TxtFields[8]);
    pair(5, 2, 9, TxtFields[9]);
    pair(6, 0, 10, TxtFields[10]);
    pair(6, 2, 11, TxtFields[11]);
    pair(7, 0, 12, TxtFields[12]);
    pair(7, 2, 18, TxtFields[18]);
    pair(8, 0, 14, TxtFields[14]);
    pair(8, 2, 15, Combo1);
    pair(9, 0, 17, TxtFields[17]);
    grid->addWidget(captionFor(this, QStringLiteral("Label3"), QStringLiteral("CODICE"), TxtCodice), 9, 2);
    grid->addWidget(TxtCodice, 9, 3);
    grid->addWidget(Label4, 10, 3);
    pair(11, 0, 13, TxtFields[13], 3);
    auto* authorButtons = new QVBoxLayout;
    authorButtons->addWidget(Command8);
    authorButtons->addWidget(Command7);
    authorButtons->addStretch();
    auto* authors = new QHBoxLayout;
    authors->addWidget(DBList2, 1);
    authors->addLayout(authorButtons);
    grid->addWidget(captionFor(this, QStringLiteral("Label8"), QStringLiteral("AUTORE"), DBList2), 12, 0);
    grid->addLayout(authors, 12, 1, 1, 3);
    // The genre, state and publisher fields lie under their choosers and are not shown.
    for (int i : {2, 15, 16}) {
        TxtFields[i]->hide();
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    // While browsing the panel is disabled, but the book must stay as readable as when editing.
    QPalette readable = palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText, QPalette::Base}) {
        readable.setColor(QPalette::Disabled, role, readable.color(QPalette::Active, role));
    }
    setPalette(readable);
    setEnabled(false);
}

QList<QWidget*> BookFields::readingOrder() const
{
    return {TxtFields[0],  TxtFields[1],  DBCombo2,      TxtFields[3],  DBCombo3,      Command13,
            TxtFields[4],  TxtFields[5],  TxtFields[6],  TxtFields[7],  TxtFields[8],  TxtFields[9],
            TxtFields[10], TxtFields[11], TxtFields[12], TxtFields[18], TxtFields[14], Combo1,
            TxtFields[17], TxtFields[13], DBList2,       Command8,      Command7};
}

void BookFields::fillEmptyAmounts()
{
    for (int i = 0; i < 19; ++i) {
        const QString& empty = fieldSpecs()[i].rule.whenEmptyOnSave;
        if (!empty.isEmpty() && TxtFields[i]->text().isEmpty()) {
            TxtFields[i]->setTextToStore(empty);
        }
    }
}

void BookFields::Combo1_Change()
{
    QLineEdit* edit = Combo1->lineEdit();
    const int caret = edit->cursorPosition();
    const QString upper = edit->text().toUpper();
    if (upper != edit->text()) {
        edit->setText(upper);
        edit->setCursorPosition(caret);
    }
}

void BookFields::DBCombo2_Change()
{
    // Only past the first character: a choice from the list (caret at the start) stays as listed.
    QLineEdit* edit = DBCombo2->lineEdit();
    const int caret = edit->cursorPosition();
    if (caret <= 0) {
        return;
    }
    const QString upper = edit->text().toUpper();
    if (upper != edit->text()) {
        edit->setText(upper);
    }
    edit->setCursorPosition(caret);
    edit->deselect();
}

} // namespace books
