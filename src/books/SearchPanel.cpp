#include "books/SearchPanel.h"

#include "app/Guard.h"
#include "controls/BoundControls.h"
#include "store/Archive.h"
#include "store/DataSource.h"
#include "store/Sql.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace books {
namespace {

using controls::captionFor;
using controls::named;

// The pause in typing after which the list follows the values: long enough for the keys of a
// word typed quickly, short enough to feel immediate.
constexpr int kTypingPauseMs = 150;

} // namespace

SearchPanel::SearchPanel(QWidget* parent, store::DataSource* titles, std::function<void(const QString&)> showFirst)
    : QFrame(parent), m_titles(titles), m_showFirst(std::move(showFirst))
{
    setObjectName(QStringLiteral("SearchPanel"));
    build();
    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(kTypingPauseMs);
    guard::connect(&m_typingPause, &QTimer::timeout, this, [this] { typingPauseEnded(); });
    for (int i = 0; i < 10; ++i) {
        guard::connect(Check1[i], &QCheckBox::clicked, this, [this, i] { Check1_Click(i); });
        guard::connect(Text2[i], &QLineEdit::textChanged, this, [this, i] { Text2_Change(i); });
    }
    for (int i = 0; i < 2; ++i) {
        guard::connect(Option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    }
    guard::connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
}

void SearchPanel::typingPauseEnded()
{
    m_typingPause.stop();
    if (!isEnabled()) {
        m_pending = true; // a book is being edited: the window rebuilds the list when it ends
    } else if (QApplication::activeModalWidget()) {
        m_typingPause.start(); // never under a question that is waiting for its answer
    } else {
        Aggiorna();
    }
}

void SearchPanel::build()
{
    setFrameShape(QFrame::StyledPanel);
    static const char* const captions[10] = {
        "Posizione",           "Autore",    "Genere",         "Argomento",      "Editore",
        "Stato conservazione", "Periodici", "Inserito in...", "Anno di Stampa", "Luogo Stampa"};
    auto* firstPage = new QWidget(this);
    firstPage->setObjectName(QStringLiteral("SearchPage1"));
    Picture6 = new QWidget(this);
    Picture6->setObjectName(QStringLiteral("Picture6"));
    auto* grid1 = new QGridLayout(firstPage);
    auto* grid2 = new QGridLayout(Picture6);
    for (int i = 0; i < 10; ++i) {
        QWidget* page = i < 5 ? firstPage : Picture6;
        QGridLayout* grid = i < 5 ? grid1 : grid2;
        Check1[i] = named(new QCheckBox(page), QStringLiteral("Check1_%1").arg(i));
        Text2[i] = named(new QLineEdit(page), QStringLiteral("Text2_%1").arg(i));
        Label5[i] = captionFor(page, QStringLiteral("Label5_%1").arg(i), QString::fromUtf8(captions[i]), Text2[i]);
        Check1[i]->setAccessibleName(QString::fromUtf8(captions[i]));
        grid->addWidget(Check1[i], i % 5, 0);
        grid->addWidget(Label5[i], i % 5, 1);
        grid->addWidget(Text2[i], i % 5, 2);
    }
    Option1[0] = named(new QRadioButton(QStringLiteral("OR"), this), QStringLiteral("Option1_0"));
    Option1[1] = named(new QRadioButton(QStringLiteral("AND"), this), QStringLiteral("Option1_1"));
    Option1[0]->setChecked(true);
    Command2 = named(new QPushButton(QStringLiteral(">>>"), this), QStringLiteral("Command2"));
    Command2->setAccessibleName(QStringLiteral("Pagina"));

    m_pages = new QStackedLayout;
    m_pages->addWidget(firstPage);
    m_pages->addWidget(Picture6);
    m_pages->setCurrentWidget(firstPage);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Option1[0]);
    bottom->addWidget(Option1[1]);
    bottom->addStretch();
    bottom->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("RICERCA"), this));
    layout->addLayout(m_pages);
    layout->addLayout(bottom);
}

QList<QWidget*> SearchPanel::readingOrder() const
{
    QList<QWidget*> order;
    for (int i = 0; i < 10; ++i) {
        order << Check1[i] << Text2[i];
    }
    return order << Option1[0] << Option1[1] << Command2;
}

void SearchPanel::Aggiorna()
{
    refreshTitles();
    const store::Recordset& titles = m_titles->rs();
    m_showFirst(titles.recordCount() > 0 ? titles.valueAt(0, titles.columnIndex(QStringLiteral("id"))).toString()
                                         : QString());
}

bool SearchPanel::isOpen() const
{
    return std::any_of(std::begin(Check1), std::end(Check1), [](const QCheckBox* box) { return box->isChecked(); });
}

void SearchPanel::closeSearch(const QString& keep)
{
    for (QCheckBox* box : Check1) {
        box->setChecked(false);
    }
    if (keep.isEmpty()) {
        Aggiorna();
        return;
    }
    refreshTitles();
    m_showFirst(keep);
}

void SearchPanel::refreshTitles()
{
    m_typingPause.stop();
    m_pending = false;
    std::array<std::optional<QString>, sql::kSearchConditions> values;
    for (int i = 0; i < 10; ++i) {
        if (Check1[i]->isChecked()) {
            values[i] = Text2[i]->text(); // as typed: not trimmed, not folded
        }
    }
    // An archive that could not be upgraded (read-only) has no word index: the words are left out.
    const bool words = !m_words.trimmed().isEmpty() && m_titles->archive() && m_titles->archive()->hasWordIndex();
    const store::Query query = sql::searchBooks(values, Option1[1]->isChecked(), words ? m_words : QString());
    m_titles->setRecordSource(query);
    m_titles->refresh();
    m_lastQuery = query;
}

bool SearchPanel::consumePending()
{
    const bool pending = m_pending || m_typingPause.isActive();
    m_pending = false;
    m_typingPause.stop();
    return pending;
}

void SearchPanel::Check1_Click(int index)
{
    Aggiorna();
    Text2[index]->setFocus();
}

void SearchPanel::Text2_Change(int)
{
    // Every keystroke restarts the pause: the list is rebuilt once the typing stops.
    m_typingPause.start();
}

void SearchPanel::setWords(const QString& words)
{
    const bool cleared = !m_words.trimmed().isEmpty() && words.trimmed().isEmpty();
    m_words = words;
    if (cleared && isEnabled() && !QApplication::activeModalWidget()) {
        Aggiorna(); // the whole list again, at once
    } else {
        m_typingPause.start();
    }
}

void SearchPanel::Option1_Click(int)
{
    Aggiorna();
}

void SearchPanel::Command2_Click()
{
    if (Command2->text() == QLatin1String(">>>")) {
        m_pages->setCurrentWidget(Picture6);
        Command2->setText(QStringLiteral("<<<"));
    } else {
        m_pages->setCurrentIndex(0);
        Command2->setText(QStringLiteral(">>>"));
    }
}

} // namespace books
