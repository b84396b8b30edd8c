// Builds a large archive for benchmarks and manual trials:
//   carteo_gen_archive <path> [books=100000] [authors=60000] [links=150000] [publishers=5000] [variant]
#include "ArchiveGenerator.h"

#include "store/DbError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <exception>

namespace {

bool readCount(const char* text, int& value)
{
    bool ok = false;
    const int n = QString::fromLocal8Bit(text).toInt(&ok);
    if (!ok || n < 0) {
        return false;
    }
    value = n;
    return true;
}

int usage()
{
    std::fprintf(stderr, "usage: carteo_gen_archive <path> [books=100000] [authors=60000] [links=150000] "
                         "[publishers=5000] [variant]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2 || argc > 7) {
        return usage();
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    bench::ArchiveSize size;
    int* counts[] = {&size.books, &size.authors, &size.links, &size.publishers};
    for (int i = 2; i < argc && i < 6; ++i) {
        if (!readCount(argv[i], *counts[i - 2])) {
            return usage();
        }
    }
    if (argc == 7) {
        bool ok = false;
        size.variant = QString::fromLocal8Bit(argv[6]).toULongLong(&ok);
        if (!ok) {
            return usage();
        }
    }
    if (QFileInfo::exists(path)) {
        std::fprintf(stderr, "%s already exists; remove it first\n", qPrintable(path));
        return 1;
    }
    try {
        const bench::GeneratedArchive a = bench::generateArchive(path, size);
        std::printf("archive     %s\n", qPrintable(QFileInfo(path).absoluteFilePath()));
        std::printf("variant     %llu\n", static_cast<unsigned long long>(size.variant));
        std::printf("books       %lld (%lld without authors, %lld with several; %lld without publisher, "
                    "%lld naming a missing publisher)\n",
                    a.books, a.booksWithoutAuthors, a.booksWithSeveralAuthors, a.booksWithoutPublisher,
                    a.booksWithMissingPublisher);
        std::printf("authors     %lld\n", a.authors);
        std::printf("links       %lld\n", a.links);
        std::printf("publishers  %lld\n", a.publishers);
        std::printf("borrowers   %lld\n", a.borrowers);
        std::printf("loans       %lld (%d open and past due, %d open, the rest returned)\n", a.loans, size.overdueLoans,
                    size.openLoans);
        std::printf("size        %.1f MB\n", double(QFileInfo(path).size()) / (1024.0 * 1024.0));
        std::printf("time        %.2f s\n", a.seconds);
    } catch (const store::DbError& e) {
        std::fprintf(stderr, "archive error %d: %s\n", e.number(), qPrintable(e.description()));
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
