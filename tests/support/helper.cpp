// A second program instance for the tests, in its own process:
//   carteo_test_helper tieni <archivio>
//       holds the archive open as a window does (its presence and a connection that has read),
//       prints "pronto" and waits until its input is closed;
//   carteo_test_helper compatta <archivio> <cartella> <passo> uccidi|aspetta
//   carteo_test_helper ripara <archivio> <passo> uccidi|aspetta
//       compacts (through <cartella>) or repairs the archive; at the first <passo> it kills itself
//       as kill -9 would, or prints "fermo" and waits until its input is closed, then goes on;
//   carteo_test_helper salva <archivio> <id> <note> uccidi|conferma
//       saves the note of book <id> in a transaction of a few cached pages (so that changed pages
//       reach the file before the end), then kills itself before the commit, or commits;
//   carteo_test_helper presta <archivio> <libro> <lettore> <giorno> <passo> uccidi|aspetta
//   carteo_test_helper restituisci <archivio> <libro> <giorno> <passo> uccidi|aspetta
//       lends the book to the borrower for 30 days, or takes it back, on the day <giorno>
//       (yyyy-mm-dd), in a transaction of a few cached pages; at the loans' step <passo> it kills
//       itself or waits as above; then prints the message of what was done;
//   carteo_test_helper copia <archivio> <aaaa-mm-gg> <passo> uccidi|aspetta
//       makes the archive's daily copy of that date, stopping at <passo> as above;
//   carteo_test_helper ripristina <copia> <archivio> <passo> uccidi|aspetta
//       restores the copy over the archive, stopping at <passo> as above;
//   carteo_test_helper importa <file> <archivio> uccidi
//       imports the CSV file into the archive and kills itself at the import's second report of
//       progress, with rows already written in its transaction.
// Exits with 0 when all went well, 2 for wrong arguments, 3 for a store error (printed).
#include "exchange/Transfer.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/Backups.h"
#include "store/DbError.h"
#include "store/Loans.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

void say(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// Returns when the test closes this process's input.
void waitForTheEnd()
{
    QFile input;
    if (input.open(stdin, QIODevice::ReadOnly)) {
        input.readAll();
    }
}

std::function<void(const QString&)> stopper(const QString& wanted, const QString& how)
{
    return ([wanted, how, reached = false](const QString& step) mutable {
        if (step != wanted || reached) {
            return;
        }
        reached = true;
        if (how == QLatin1String("uccidi")) {
#if defined(SIGKILL)
            std::raise(SIGKILL);
#else
            std::abort(); // no kill -9 here: the nearest end without any clean-up
#endif
        }
        say("fermo");
        waitForTheEnd();
    });
}

void stopAt(const QString& wanted, const QString& how)
{
    store::files::setStepHook(stopper(wanted, how));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 2 && args.at(0) == QLatin1String("tieni")) {
            const auto archive = store::Archive::open(args.at(1));
            store::Statement books = archive->prepare(QStringLiteral("SELECT count(*) FROM biblio"));
            books.step();
            say("pronto");
            waitForTheEnd();
            return 0;
        }
        if (args.size() == 5 && args.at(0) == QLatin1String("compatta")) {
            stopAt(args.at(3), args.at(4));
            const store::files::ExclusiveUse use(args.at(1));
            store::files::compact(use, args.at(2));
            return 0;
        }
        if (args.size() == 5 && args.at(0) == QLatin1String("salva")) {
            const auto archive = store::Archive::open(args.at(1));
            if (!archive->onServer()) {
                archive->exec(QStringLiteral("PRAGMA cache_size = 2"));
            }
            store::Transaction save(*archive);
            store::Statement update = archive->prepare(QStringLiteral("UPDATE biblio SET note = ? WHERE id = ?"));
            update.bind(1, args.at(3));
            update.bind(2, args.at(2).toLongLong());
            update.step();
            if (args.at(4) == QLatin1String("uccidi")) {
#if defined(SIGKILL)
                std::raise(SIGKILL);
#else
                std::abort();
#endif
            }
            save.commit();
            return 0;
        }
        if ((args.size() == 7 && args.at(0) == QLatin1String("presta")) ||
            (args.size() == 6 && args.at(0) == QLatin1String("restituisci"))) {
            const bool lending = args.at(0) == QLatin1String("presta");
            stopAt(args.at(lending ? 5 : 4), args.at(lending ? 6 : 5));
            const auto archive = store::Archive::open(args.at(1));
            if (!archive->onServer()) {
                archive->exec(QStringLiteral("PRAGMA cache_size = 2"));
            }
            const QDate day = QDate::fromString(args.at(lending ? 4 : 3), Qt::ISODate);
            const store::loans::Result done =
                lending ? store::loans::lend(*archive, args.at(2).toLongLong(), args.at(3).toLongLong(), day, 30, 0)
                        : store::loans::returnBook(*archive, args.at(2).toLongLong(), day);
            std::printf("%s\n", qPrintable(done.message));
            return 0;
        }
        if (args.size() == 5 && args.at(0) == QLatin1String("copia")) {
            store::backups::setStepHook(stopper(args.at(3), args.at(4)));
            store::backups::makeCopy(args.at(1), QDate::fromString(args.at(2), QStringLiteral("yyyy-MM-dd")));
            return 0;
        }
        if (args.size() == 4 && args.at(0) == QLatin1String("importa")) {
            const auto archive = store::Archive::open(args.at(2));
            if (!archive->onServer()) {
                archive->exec(QStringLiteral("PRAGMA cache_size = 2"));
            }
            const exchange::Source source = exchange::detectSource(args.at(1));
            const auto reader = exchange::openSource(source);
            exchange::ReadRow header;
            reader->next(header);
            int reports = 0;
            exchange::importRows(*archive, *reader, exchange::guessMapping(header.fields), {},
                                 [&reports](qint64 done, qint64) {
                                     // Reports of the rows only (the copy before them tells 0).
                                     if (done > 0 && ++reports == 2) {
#if defined(SIGKILL)
                                         std::raise(SIGKILL);
#else
                                         std::abort();
#endif
                                     }
                                     return true;
                                 });
            return 0;
        }
        if (args.size() == 5 && args.at(0) == QLatin1String("ripristina")) {
            stopAt(args.at(3), args.at(4));
            const store::files::ExclusiveUse use(args.at(2));
            store::files::restoreCopy(args.at(1), use);
            return 0;
        }
        if (args.size() == 4 && args.at(0) == QLatin1String("ripara")) {
            stopAt(args.at(2), args.at(3));
            const store::files::ExclusiveUse use(args.at(1));
            store::files::repair(use);
            return 0;
        }
    } catch (const store::DbError& e) {
        std::printf("errore %d: %s\n", e.number(), qPrintable(e.description()));
        return 3;
    }
    std::fprintf(stderr, "argomenti non validi\n");
    return 2;
}
