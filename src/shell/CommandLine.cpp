#include "shell/CommandLine.h"

#include "app/Version.h"
#include "exchange/Transfer.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Server.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace commandline {
namespace {

void say(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

std::shared_ptr<store::Archive> openArchive(const QString& path)
{
    if (!QFileInfo(path).isFile()) {
        throw store::DbError(store::ErrFileNotFound, QStringLiteral("L'archivio %1 non esiste.").arg(native(path)));
    }
    // A shared presence, as a window holds it: a repair or a compaction under way refuses us (3356).
    return store::Archive::open(path);
}

int exportTo(const QString& file, const QString& archivePath)
{
    const auto archive = openArchive(archivePath);
    const exchange::ExportResult result = exchange::exportBooks(*archive, file, std::nullopt);
    say(stdout, QStringLiteral("Esportati %1 libri in %2.").arg(result.rows).arg(native(file)));
    return 0;
}

void listEntries(const exchange::Preview& preview)
{
    using Status = exchange::Entry::Status;
    for (const exchange::Entry& entry : preview.entries) {
        if (entry.status == Status::Discarded) {
            say(stdout, QStringLiteral("riga %1: scartata, %2").arg(entry.line).arg(entry.reason));
        } else if (!entry.conflicts.isEmpty()) {
            QStringList fields;
            for (const exchange::Change& change : entry.conflicts) {
                fields << exchange::infoOf(change.field).heading;
            }
            say(stdout, QStringLiteral("riga %1: %2, campi modificati dopo l'ultima importazione, non sovrascritti: %3")
                            .arg(entry.line)
                            .arg(entry.title, fields.join(QStringLiteral(", "))));
        }
    }
}

int importFrom(const QString& file, const QString& archivePath, bool previewOnly)
{
    const auto archive = openArchive(archivePath);
    const exchange::Source source = exchange::detectSource(file);
    const std::unique_ptr<exchange::SheetReader> reader = exchange::openSource(source);
    exchange::ReadRow header;
    if (!reader->next(header)) {
        throw store::DbError(store::ErrNotATable, QStringLiteral("Il file non contiene righe."));
    }
    const exchange::Mapping mapping = exchange::guessMapping(header.fields);
    if (!mapping.maps(exchange::Field::Title) && !mapping.maps(exchange::Field::Key)) {
        throw store::DbError(store::ErrNotATable,
                             QStringLiteral("Nessuna colonna del file è riconosciuta come titolo o codice del libro: "
                                            "la prima riga deve dare i nomi delle colonne (Titolo, Autori, Editore, "
                                            "Anno...)."));
    }
    if (previewOnly) {
        const exchange::Preview preview = exchange::preview(*archive, *reader, mapping);
        say(stdout, preview.summary());
        listEntries(preview);
        return 0;
    }
    const exchange::ImportResult result = exchange::importRows(*archive, *reader, mapping, {});
    say(stdout, result.preview.summary());
    listEntries(result.preview);
    say(stdout, QStringLiteral("Importazione terminata: %1 libri aggiunti, %2 aggiornati. Copia dell'archivio prima "
                               "dell'importazione: %3")
                    .arg(result.added)
                    .arg(result.updated)
                    .arg(native(result.copyPath)));
    return 0;
}

// A file given as it was typed, an address as it is (never shown with its password).
QString argumentPath(const QString& argument)
{
    return store::server::isAddress(argument) ? argument : QFileInfo(argument).absoluteFilePath();
}

// The whole archive `source` into `target`: a file into an empty database on a server, or the
// archive on a server into a new file. The password comes from libpq's own password file or
// PGPASSWORD: nobody is asked.
int transferArchive(const QString& source, const QString& target)
{
    if (!store::server::isAddress(source) && !QFileInfo(source).isFile()) {
        throw store::DbError(store::ErrFileNotFound, QStringLiteral("L'archivio %1 non esiste.").arg(native(source)));
    }
    if (!store::server::isAddress(target) && QFileInfo::exists(target)) {
        throw store::DbError(store::ErrPathFileAccess,
                             QStringLiteral("Il file %1 esiste già: la copia si scrive in un file nuovo.")
                                 .arg(native(target)));
    }
    qint64 rows = 0;
    try {
        store::transferArchive(source, target, [&rows](qint64 done, qint64 total) {
            rows = std::max(done, total);
            return true;
        });
    } catch (const store::DbError& e) {
        // A password written in the address given is never repeated on the screen.
        QString description = e.description();
        for (const QString& side : {source, target}) {
            description.replace(side, store::server::shown(side));
        }
        throw store::DbError(e.number(), description);
    }
    say(stdout, QStringLiteral("Trasferimento completato: %1 righe.").arg(rows));
    return 0;
}

} // namespace

bool wanted(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--esporta") == 0 || std::strcmp(argv[i], "--importa") == 0 ||
            std::strcmp(argv[i], "--trasferisci") == 0) {
            return true;
        }
    }
    return false;
}

int run(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Carteo"));
    QCoreApplication::setApplicationVersion(app::version());
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Carteo: esportazione e importazione del catalogo."));
    const QCommandLineOption exportOption(QStringLiteral("esporta"),
                                          QStringLiteral("Esporta tutto il catalogo nel file (CSV, o .xlsx)."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption importOption(QStringLiteral("importa"),
                                          QStringLiteral("Importa i libri del file (CSV o .xls)."), QStringLiteral("FILE"));
    const QCommandLineOption archiveOption(QStringLiteral("archivio"), QStringLiteral("L'archivio su cui lavorare."),
                                           QStringLiteral("ARCHIVIO"));
    const QCommandLineOption previewOption(QStringLiteral("anteprima"),
                                           QStringLiteral("Mostra che cosa farebbe l'importazione, senza scrivere nulla."));
    const QCommandLineOption transferOption(
        QStringLiteral("trasferisci"),
        QStringLiteral("Copia tutto l'archivio ORIGINE nella DESTINAZIONE: un file .mdb in un database vuoto sul "
                       "server (postgresql://utente@server:porta/database), o il contrario in un file nuovo."),
        QStringLiteral("ORIGINE"));
    parser.addOptions({exportOption, importOption, archiveOption, previewOption, transferOption});
    if (!parser.parse(QCoreApplication::arguments())) {
        say(stderr, QStringLiteral("carteo: %1").arg(parser.errorText()));
        return 2;
    }
    const bool exporting = parser.isSet(exportOption);
    const bool importing = parser.isSet(importOption);
    const bool transferring = parser.isSet(transferOption);
    const QStringList positional = parser.positionalArguments();
    const auto transferUnderstood = [&] {
        if (parser.isSet(archiveOption) || parser.isSet(previewOption) || positional.size() != 1 ||
            parser.values(transferOption).size() != 1) {
            return false;
        }
        // One side on a server, the other a file.
        return store::server::isAddress(parser.value(transferOption)) != store::server::isAddress(positional.first());
    };
    const int commands = int(exporting) + int(importing) + int(transferring);
    if (commands != 1 || (transferring && !transferUnderstood()) ||
        (!transferring && (!parser.isSet(archiveOption) || !positional.isEmpty())) ||
        (exporting && parser.isSet(previewOption))) {
        say(stderr, QStringLiteral("Uso: carteo --esporta FILE --archivio ARCHIVIO\n"
                                   "     carteo --importa FILE --archivio ARCHIVIO [--anteprima]\n"
                                   "     carteo --trasferisci FILE.mdb postgresql://utente@server:porta/database\n"
                                   "     carteo --trasferisci postgresql://utente@server:porta/database FILE.mdb"));
        return 2;
    }
    if (transferring) {
        try {
            return transferArchive(argumentPath(parser.value(transferOption)), argumentPath(positional.first()));
        } catch (const store::DbError& e) {
            say(stderr, QStringLiteral("carteo: %1").arg(e.description()));
            return 1;
        } catch (const std::exception& e) {
            say(stderr, QStringLiteral("carteo: errore imprevisto: %1").arg(QString::fromLocal8Bit(e.what())));
            return 1;
        }
    }
    const QString archive = QFileInfo(parser.value(archiveOption)).absoluteFilePath();
    try {
        if (exporting) {
            return exportTo(QFileInfo(parser.value(exportOption)).absoluteFilePath(), archive);
        }
        return importFrom(QFileInfo(parser.value(importOption)).absoluteFilePath(), archive,
                          parser.isSet(previewOption));
    } catch (const store::DbError& e) {
        say(stderr, QStringLiteral("carteo: %1").arg(e.description()));
        return 1;
    } catch (const std::exception& e) {
        say(stderr, QStringLiteral("carteo: errore imprevisto: %1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
}

} // namespace commandline
