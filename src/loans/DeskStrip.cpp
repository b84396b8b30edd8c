#include "loans/DeskStrip.h"

#include "app/Guard.h"
#include "app/LoanSettings.h"
#include "app/Today.h"
#include "controls/BoundControls.h"

#include <QApplication>
#include <QBrush>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace loans {

using controls::named;

namespace {

constexpr int kLogLines = 200; // the oldest lines go beyond this

} // namespace

DeskStrip::DeskStrip(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("DeskStrip"));
    setFrameShape(QFrame::StyledPanel);
    TxtCodiceLibro = named(new QLineEdit(this), QStringLiteral("TxtCodiceLibro"));
    TxtCodiceLibro->setAccessibleName(QStringLiteral("Codice libro"));
    TxtCodiceLibro->setAccessibleDescription(
        QStringLiteral("Il codice a barre del libro: un libro in prestito viene restituito, uno in biblioteca "
                       "viene prestato al lettore scelto"));
    TxtCodiceLibro->setPlaceholderText(QStringLiteral("leggere il codice a barre o scriverlo e premere Invio"));
    QFont big = TxtCodiceLibro->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    TxtCodiceLibro->setFont(big);
    auto* caption = controls::captionFor(this, QStringLiteral("LblCodiceLibro"), QStringLiteral("Codice libro"),
                                         TxtCodiceLibro);
    caption->setFont(big);
    LblLettore = named(new QLabel(this), QStringLiteral("LblLettore"));
    LblLettore->setWordWrap(true);
    CmdSoloRestituzioni = named(new QPushButton(QStringLiteral("Solo restituzioni"), this),
                                QStringLiteral("CmdSoloRestituzioni"));
    CmdSoloRestituzioni->setToolTip(QStringLiteral("Nessun lettore scelto: i libri letti vengono restituiti"));
    LstRegistro = named(new QListWidget(this), QStringLiteral("LstRegistro"));
    LstRegistro->setAccessibleName(QStringLiteral("Registro dei prestiti"));
    LstRegistro->setFocusPolicy(Qt::ClickFocus);
    LstRegistro->setMaximumHeight(5 * LstRegistro->fontMetrics().height() + 12);
    CmdAnnullaUltimo = named(new QPushButton(QStringLiteral("Annulla ultimo"), this), QStringLiteral("CmdAnnullaUltimo"));
    CmdAnnullaUltimo->setEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(caption, 0, 0);
    grid->addWidget(TxtCodiceLibro, 0, 1);
    grid->addWidget(LblLettore, 0, 2);
    grid->addWidget(CmdSoloRestituzioni, 0, 3);
    grid->addWidget(LstRegistro, 1, 0, 1, 3);
    grid->addWidget(CmdAnnullaUltimo, 1, 3, Qt::AlignTop);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(2, 3);

    guard::connect(TxtCodiceLibro, &QLineEdit::returnPressed, this, [this] { TxtCodiceLibro_Enter(); });
    guard::connect(CmdAnnullaUltimo, &QPushButton::clicked, this, [this] { CmdAnnullaUltimo_Click(); });
    guard::connect(CmdSoloRestituzioni, &QPushButton::clicked, this, [this] { CmdSoloRestituzioni_Click(); });
    setBorrower(0, {});
}

DeskStrip::~DeskStrip() = default;

void DeskStrip::setBorrower(qint64 id, const QString& name)
{
    m_borrower = id;
    if (id == 0) {
        LblLettore->setText(QStringLiteral("Nessun lettore scelto: i libri letti vengono restituiti."));
    } else {
        LblLettore->setText(QStringLiteral("I libri letti vengono prestati a ") + name +
                            QStringLiteral(" (quelli in prestito vengono restituiti)."));
    }
    LblLettore->setAccessibleName(LblLettore->text());
    CmdSoloRestituzioni->setEnabled(id != 0);
}

void DeskStrip::TxtCodiceLibro_Enter()
{
    if (!m_archive) {
        return;
    }
    const LoanSettings settings = LoanSettings::load();
    // What was read stays in the field should the archive fail (busy, say): Enter tries again.
    const store::loans::Result result = store::loans::scan(*m_archive, TxtCodiceLibro->text(), m_borrower,
                                                           today::date(), settings.loanDays, settings.maxBooks);
    TxtCodiceLibro->clear();
    log(result);
    if (result.action.kind != store::loans::Action::Kind::None) {
        m_done.append(result.action);
        CmdAnnullaUltimo->setEnabled(true);
    }
    if (result.done()) {
        emit loansChanged();
    }
}

void DeskStrip::CmdAnnullaUltimo_Click()
{
    if (!m_archive || m_done.isEmpty()) {
        return;
    }
    const store::loans::Result result = store::loans::undo(*m_archive, m_done.constLast());
    // Taken back, or no longer possible (changed at another desk): either way it is off the list.
    m_done.removeLast();
    CmdAnnullaUltimo->setEnabled(!m_done.isEmpty());
    log(result);
    if (result.done()) {
        emit loansChanged();
    }
    TxtCodiceLibro->setFocus();
}

void DeskStrip::CmdSoloRestituzioni_Click()
{
    setBorrower(0, {});
    emit borrowerCleared();
    TxtCodiceLibro->setFocus();
}

void DeskStrip::log(const store::loans::Result& result)
{
    auto* line = new QListWidgetItem(result.message);
    if (!result.done()) {
        line->setForeground(QBrush(QColor(192, 0, 0)));
        QApplication::beep();
    }
    LstRegistro->addItem(line);
    while (LstRegistro->count() > kLogLines) {
        delete LstRegistro->takeItem(0);
    }
    LstRegistro->scrollToItem(line);
    LstRegistro->setCurrentItem(line);
}

} // namespace loans
