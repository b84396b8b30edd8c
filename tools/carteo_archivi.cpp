// Prepares a program folder: the empty template archive, the default archive when missing, and the
// photo folder. Run by the build so that the program folder is ready to start.
#include "store/Archive.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "uso: carteo_archivi <cartella del programma>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    try {
        folder.mkpath(QStringLiteral("archivio"));
        folder.mkpath(QStringLiteral("foto"));
        const QString templ = folder.filePath(QStringLiteral("archivio/$vuoto$.md$"));
        QFile::remove(templ);
        store::Archive::create(templ);
        const QString archive = folder.filePath(QStringLiteral("archivio/archivio.mdb"));
        if (!QFile::exists(archive)) {
            store::Archive::create(archive);
        }
    } catch (const store::DbError& e) {
        std::fprintf(stderr, "%s\n", e.description().toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
