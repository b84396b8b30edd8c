#include "shell/FrmServer.h"

#include "app/Messages.h"
#include "store/Server.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QVBoxLayout>

namespace {

// The protections offered, as the user reads them and as libpq's sslmode names them; the first,
// libpq's own default, is written as no sslmode at all.
struct Protection {
    const char* caption;
    const char* sslmode;
};
constexpr Protection kProtections[] = {
    {"preferita", ""}, {"richiesta", "require"}, {"verifica completa", "verify-full"}, {"disattivata", "disable"}};

} // namespace

FrmServer::FrmServer(QWidget* parent, const QString& initial) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmServer"));
    setWindowTitle(QStringLiteral("Archivio sul server"));
    setModal(true);
    const store::server::Parts parts = store::server::partsOf(initial);

    TxtServer = new QLineEdit(parts.host, this);
    TxtServer->setObjectName(QStringLiteral("TxtServer"));
    TxtServer->setPlaceholderText(QStringLiteral("nome o indirizzo del server"));
    TxtPorta = new QSpinBox(this);
    TxtPorta->setObjectName(QStringLiteral("TxtPorta"));
    TxtPorta->setRange(1, 65535);
    TxtPorta->setValue(parts.port > 0 ? parts.port : 5432);
    TxtDatabase = new QLineEdit(parts.database, this);
    TxtDatabase->setObjectName(QStringLiteral("TxtDatabase"));
    TxtUtente = new QLineEdit(parts.user, this);
    TxtUtente->setObjectName(QStringLiteral("TxtUtente"));
    CmbConnessione = new QComboBox(this);
    CmbConnessione->setObjectName(QStringLiteral("CmbConnessione"));
    for (const Protection& p : kProtections) {
        CmbConnessione->addItem(QString::fromUtf8(p.caption), QString::fromLatin1(p.sslmode));
    }
    // A protection the address asked for that the list does not offer ("verify-ca") is kept.
    const QString sslmode = parts.sslmode == QLatin1String("prefer") ? QString() : parts.sslmode;
    int index = CmbConnessione->findData(sslmode);
    if (index < 0) {
        CmbConnessione->addItem(sslmode, sslmode);
        index = CmbConnessione->count() - 1;
    }
    CmbConnessione->setCurrentIndex(index);
    m_options = parts.options;

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Server"), TxtServer);
    form->addRow(QStringLiteral("&Porta"), TxtPorta);
    form->addRow(QStringLiteral("&Database"), TxtDatabase);
    form->addRow(QStringLiteral("&Utente"), TxtUtente);
    form->addRow(QStringLiteral("&Connessione protetta"), CmbConnessione);
    auto* buttons = new QDialogButtonBox(this);
    CmdOK = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    CmdOK->setObjectName(QStringLiteral("CmdOK"));
    CmdOK->setDefault(true);
    CmdAnnulla = buttons->addButton(QStringLiteral("Annulla"), QDialogButtonBox::RejectRole);
    CmdAnnulla->setObjectName(QStringLiteral("CmdAnnulla"));
    connect(buttons, &QDialogButtonBox::accepted, this, &FrmServer::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FrmServer::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    TxtServer->setFocus();
}

QString FrmServer::address() const
{
    store::server::Parts parts;
    parts.host = TxtServer->text().trimmed();
    parts.port = TxtPorta->value();
    parts.database = TxtDatabase->text().trimmed();
    parts.user = TxtUtente->text().trimmed();
    parts.sslmode = CmbConnessione->currentData().toString();
    parts.options = m_options;
    return store::server::addressOf(parts);
}

void FrmServer::accept()
{
    if (TxtDatabase->text().trimmed().isEmpty()) {
        msg::show(QStringLiteral("Occorre indicare il database dell'archivio!"), msg::Icon::Information);
        TxtDatabase->setFocus();
        return;
    }
    QDialog::accept();
}

std::optional<QString> FrmServer::ask(QWidget* parent, const QString& initial)
{
    FrmServer dialog(parent, initial);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.address();
}

namespace shell {

std::optional<QString> askPassword(QWidget* parent, const QString& shownAddress)
{
    QInputDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("FrmPassword"));
    dialog.setWindowTitle(msg::kProgramTitle);
    dialog.setLabelText(QStringLiteral("Password per %1").arg(shownAddress));
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Annulla"));
    dialog.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.textValue();
}

void installPasswordPrompt(bool on)
{
    if (!on) {
        store::server::setPasswordPrompt({});
        return;
    }
    store::server::setPasswordPrompt([](const QString& shownAddress) -> std::optional<QString> {
        std::optional<QString> answer;
        // Called from inside the store: nothing may escape, and a failure is a cancel.
        const auto ask = [&answer, &shownAddress]() noexcept {
            try {
                answer = askPassword(QApplication::activeWindow(), shownAddress);
            } catch (...) {
                answer.reset();
            }
        };
        QCoreApplication* app = QCoreApplication::instance();
        if (!qobject_cast<QApplication*>(app)) {
            return std::nullopt; // no windows to ask in
        }
        if (QThread::currentThread() == app->thread()) {
            ask();
        } else {
            QMetaObject::invokeMethod(app, ask, Qt::BlockingQueuedConnection);
        }
        return answer;
    });
}

} // namespace shell
