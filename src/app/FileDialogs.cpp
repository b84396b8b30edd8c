#include "app/FileDialogs.h"

#include "store/DbError.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QPushButton>
#include <QPrintDialog>
#include <QPrinter>
#include <deque>

namespace dialogs {
namespace {

std::deque<QString>& queued()
{
    static std::deque<QString> choices;
    return choices;
}

bool& recording()
{
    static bool on = false;
    return on;
}

const QString kFilter = QStringLiteral("File mdb(*.mdb)");
const QString kPdfFilter = QStringLiteral("File PDF(*.pdf)");
const QString kCsvFilter = QStringLiteral("File CSV (*.csv)");
const QString kXlsxFilter = QStringLiteral("Cartella di Excel (*.xlsx)");
const QString kOpenTableFilter = QStringLiteral("Tabelle (*.csv *.txt *.xls);;Tutti i file (*)");

ServerChoice& serverChoice()
{
    static ServerChoice choice;
    return choice;
}

// The "Server…" button beside the file dialog's own buttons: the address chosen there ends the
// dialog as a chosen file would, in `address`.
void addServerButton(QFileDialog& dialog, QString& address)
{
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid || !serverChoice()) {
        return;
    }
    auto* button = new QPushButton(QStringLiteral("Server…"), &dialog);
    button->setObjectName(QStringLiteral("CmdServer"));
    button->setAutoDefault(false);
    button->setToolTip(QStringLiteral("Un archivio su un server PostgreSQL"));
    grid->addWidget(button, grid->rowCount(), 0, 1, grid->columnCount(), Qt::AlignLeft);
    QObject::connect(button, &QPushButton::clicked, &dialog, [&dialog, &address] {
        if (const std::optional<QString> chosen = serverChoice()(&dialog)) {
            address = *chosen;
            static_cast<QDialog&>(dialog).done(QDialog::Accepted);
        }
    });
}

std::deque<PrinterChoice>& queuedPrinterChoices()
{
    static std::deque<PrinterChoice> choices;
    return choices;
}

QString showDialog(QWidget* parent, const QString& initialFolder, bool save, const QString& filter = kFilter,
                   bool offerServer = false)
{
    QFileDialog dialog(parent, QString(), initialFolder, filter);
    if (filter == kOpenTableFilter) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        return dialog.selectedFiles().constFirst();
    }
    if (save && filter.startsWith(kCsvFilter)) {
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The suffix follows the filter chosen, so the question before replacing a file is asked
        // for the file that will be written.
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& chosen) {
            dialog.setDefaultSuffix(chosen.contains(QStringLiteral("*.xlsx")) ? QStringLiteral("xlsx")
                                                                              : QStringLiteral("csv"));
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        return withTableSuffix(dialog.selectedFiles().constFirst(), dialog.selectedNameFilter());
    }
    // The same dialog on every platform, so the program behaves alike everywhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog accepts a name that does not exist: the start-up reports it itself.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (save) {
        // A new archive named without extension still shows up in the "*.mdb" list later.
        dialog.setDefaultSuffix(filter == kPdfFilter ? QStringLiteral("pdf") : QStringLiteral("mdb"));
    }
    QString address;
    if (offerServer) {
        addServerButton(dialog, address);
    }
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (!address.isEmpty()) {
        return address;
    }
    if (!accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString run(QWidget* parent, const QString& initialFolder, bool save, const QString& filter = kFilter,
            bool offerServer = false)
{
    offerServer = offerServer && serverChoice();
    if (recording()) {
        requests().append(Request{save, initialFolder, offerServer});
    }
    QString chosen;
    if (!queued().empty()) {
        chosen = queued().front();
        queued().pop_front();
    } else {
        chosen = showDialog(parent, initialFolder, save, filter, offerServer);
    }
    if (chosen.isEmpty()) {
        throw store::DbError(store::ErrDialogCancelled);
    }
    return chosen;
}

} // namespace

QString openArchive(QWidget* parent, const QString& initialFolder, bool offerServer)
{
    return run(parent, initialFolder, false, kFilter, offerServer);
}

QString saveArchive(QWidget* parent, const QString& initialFolder, bool offerServer)
{
    return run(parent, initialFolder, true, kFilter, offerServer);
}

void setServerChoice(ServerChoice choice)
{
    serverChoice() = std::move(choice);
}

QString savePdf(QWidget* parent, const QString& suggested)
{
    return run(parent, suggested, true, kPdfFilter);
}

QString saveTable(QWidget* parent, const QString& suggested)
{
    // A name queued by a test without extension is taken as the first filter would take it.
    return withTableSuffix(run(parent, suggested, true, kCsvFilter + QStringLiteral(";;") + kXlsxFilter), kCsvFilter);
}

QString openTable(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, false, kOpenTableFilter);
}

QString withTableSuffix(const QString& path, const QString& filter)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QStringLiteral(".csv")) || lower.endsWith(QStringLiteral(".xlsx"))) {
        return path;
    }
    return path + (filter.contains(QStringLiteral("*.xlsx")) ? QStringLiteral(".xlsx") : QStringLiteral(".csv"));
}

int printerSetup(QWidget* parent, QPrinter& printer, int copies)
{
    if (!queuedPrinterChoices().empty()) {
        const PrinterChoice choice = queuedPrinterChoices().front();
        queuedPrinterChoices().pop_front();
        if (!choice.accepted) {
            throw store::DbError(store::ErrDialogCancelled);
        }
        if (!choice.pdfFile.isEmpty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(choice.pdfFile);
        }
        copies = choice.copies;
    } else {
        printer.setCopyCount(qMax(1, copies));
        QPrintDialog dialog(&printer, parent);
        dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
        dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
        dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
        if (dialog.exec() != QDialog::Accepted) {
            throw store::DbError(store::ErrDialogCancelled);
        }
        copies = printer.copyCount();
    }
    printer.setCopyCount(1);
    return qMax(1, copies);
}

void queuePrinterChoice(const PrinterChoice& choice)
{
    queuedPrinterChoices().push_back(choice);
}

void queueChoice(const QString& path)
{
    queued().push_back(path);
}

void clearQueuedChoices()
{
    queued().clear();
    queuedPrinterChoices().clear();
    requests().clear();
}

void setRecording(bool on)
{
    recording() = on;
}

QList<Request>& requests()
{
    static QList<Request> asked;
    return asked;
}

} // namespace dialogs
