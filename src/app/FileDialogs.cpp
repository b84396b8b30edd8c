#include "app/FileDialogs.h"

#include "store/DbError.h"

#include <QFileDialog>
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

std::deque<PrinterChoice>& queuedPrinterChoices()
{
    static std::deque<PrinterChoice> choices;
    return choices;
}

QString showDialog(QWidget* parent, const QString& initialFolder, bool save, const QString& filter = kFilter)
{
    QFileDialog dialog(parent, QString(), initialFolder, filter);
    // The same dialog on every platform, so the program behaves alike everywhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog accepts a name that does not exist: the start-up reports it itself.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (save) {
        // A new archive named without extension still shows up in the "*.mdb" list later.
        dialog.setDefaultSuffix(filter == kPdfFilter ? QStringLiteral("pdf") : QStringLiteral("mdb"));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString run(QWidget* parent, const QString& initialFolder, bool save, const QString& filter = kFilter)
{
    if (recording()) {
        requests().append(Request{save, initialFolder});
    }
    QString chosen;
    if (!queued().empty()) {
        chosen = queued().front();
        queued().pop_front();
    } else {
        chosen = showDialog(parent, initialFolder, save, filter);
    }
    if (chosen.isEmpty()) {
        throw store::DbError(store::ErrDialogCancelled);
    }
    return chosen;
}

} // namespace

QString openArchive(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, false);
}

QString saveArchive(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, true);
}

QString savePdf(QWidget* parent, const QString& suggested)
{
    return run(parent, suggested, true, kPdfFilter);
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
