#include "support/TestSupport.h"

#include "shell/FileDialogs.h"
#include "shell/Messages.h"
#include "shell/Modulo1.h"
#include "shell/Paths.h"
#include "store/Archive.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTest>
#include <sqlite3.h>

namespace testsupport {

ProgramFolder::ProgramFolder()
{
    if (!m_dir.isValid()) {
        return;
    }
    const QDir root(m_dir.path());
    if (!root.mkpath(QStringLiteral("archivio")) || !root.mkpath(QStringLiteral("foto"))) {
        return;
    }
    paths::setProgramFolderForTests(m_dir.path());
    store::Archive::create(paths::templateArchivePath());
    store::Archive::create(paths::defaultArchivePath());
    m_valid = true;
}

ProgramFolder::~ProgramFolder()
{
    paths::setProgramFolderForTests(QString());
}

QString ProgramFolder::defaultArchive() const
{
    return paths::defaultArchivePath();
}

QString ProgramFolder::createArchive(const QString& relative, const QString& populateSql) const
{
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    store::Archive::create(path);
    if (!populateSql.isEmpty()) {
        store::Archive::open(path)->exec(populateSql);
    }
    return path;
}

void resetShellState()
{
    msg::clearQueuedAnswers();
    msg::shownTexts().clear();
    msg::shownIcons().clear();
    dialogs::clearQueuedChoices();
    Modulo1::PercorsoArchivio.clear();
    Modulo1::CartellaArchivio.clear();
    Modulo1::FileArchivio.clear();
    Modulo1::IdLibroCorrente = 0;
    Modulo1::IdAutoreCorrente = 0;
    Modulo1::IdEditoreCorrente = 0;
    Modulo1::NuovoRecord = false;
    Modulo1::FotoAperta = false;
    Modulo1::ImportaFoto = false;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray digest(const QString& path)
{
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        c = char(QRandomGenerator::global()->generate() & 0xff);
    }
    return bytes;
}

bool damagePages(const QString& path, const QList<int>& pages)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    for (int page : pages) {
        const QByteArray garbage = randomBytes(4096);
        if (!file.seek(qint64(page - 1) * 4096) || file.write(garbage) != garbage.size()) {
            return false;
        }
    }
    return true;
}

qint64 rowCount(const QString& path, const QString& table)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    qint64 n = -1;
    const QByteArray sql = "SELECT count(*) FROM " + table.toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
        n = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

NextModal::NextModal(std::function<void(QWidget*)> answer, int timeoutMs)
    : m_answer(std::move(answer)), m_before(QApplication::activeModalWidget()),
      m_deadline(QDateTime::currentMSecsSinceEpoch() + timeoutMs)
{
    // Polled, because the dialog opens inside a nested event loop some time after this.
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &NextModal::poll);
    m_timer.start();
}

void NextModal::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != m_before && modal->isVisible()) {
        m_timer.stop();
        if (const auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_seenText = box->text();
        } else {
            m_seenText = modal->windowTitle();
        }
        m_answered = true;
        m_answer(modal);
        return;
    }
    if (QDateTime::currentMSecsSinceEpoch() > m_deadline) {
        m_timer.stop();
    }
}

ModalWatchdog::ModalWatchdog(int timeoutMs) : m_timeoutMs(timeoutMs)
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatchdog::poll);
    m_timer.start();
}

void ModalWatchdog::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (modal != m_modal) {
        m_modal = modal;
        m_since = now;
        return;
    }
    if (!modal || now - m_since < m_timeoutMs) {
        return;
    }
    const auto* box = qobject_cast<QMessageBox*>(modal);
    const QString text = box ? box->text() : modal->windowTitle();
    QTest::qFail(qPrintable(QStringLiteral("nobody answered the dialog \"%1\"").arg(text)), __FILE__, __LINE__);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->done(QDialog::Rejected);
    } else {
        modal->close();
    }
    m_modal = nullptr;
}

} // namespace testsupport
