#pragma once

#include "exchange/Sheet.h"

#include <QString>
#include <QStringList>

#include <memory>

class QProcess;

// Archives of the earlier engine (Microsoft Jet .mdb files, versions 3 and 4; later .accdb ones
// as far as the reader knows them), read for import. The file is read by the helper program
// carteo_jet in a process of its own: a damaged archive can make the reader loop or run out of
// memory, and that must not happen to the program. Every failure is a store::DbError 3921 with an
// Italian description naming the file (and the table or column).
namespace exchange {

// The rows of one table, read as the caller asks for them (the helper writes them as it reads).
class JetRows {
  public:
    ~JetRows();
    // The next row's values as texts (null values and binary columns empty); false at the end.
    // Throws 3921 when the archive turns out to be damaged past the rows read so far.
    bool next(QStringList& values);
    // As the table's definition counts them (a damaged file may hold fewer).
    qint64 expected() const { return m_expected; }
    qint64 read() const { return m_read; }

  private:
    friend class JetArchive;
    struct Run;
    explicit JetRows(std::unique_ptr<Run> run, qint64 expected);
    std::unique_ptr<Run> m_run;
    qint64 m_expected = 0;
    qint64 m_read = 0;
};

class JetArchive {
  public:
    // Checks that `path` is an archive of the earlier engine that can be read, and lists its tables.
    explicit JetArchive(const QString& path);

    const QString& path() const { return m_path; }
    // The user tables (the engine's own tables left out), in the archive's order.
    const QStringList& tables() const { return m_tables; }
    // The table's name as the archive writes it, found with letter case ignored; empty when none.
    QString findTable(const QString& name) const;
    // The columns of a table, in their order. Throws 3921 naming the table when there is none.
    QStringList columns(const QString& table) const;
    std::unique_ptr<JetRows> rows(const QString& table) const;

    // The helper program: beside the running program, else where the build put it.
    static QString helperPath();
    // How long the helper may go without writing a line before the archive is taken as damaged
    // (it loops on some damaged files). Default 60 s; tests shorten it.
    static void setStallLimit(int milliseconds);

  private:
    QString m_path;
    QStringList m_tables;
};

// The catalogue of an archive of the earlier engine as import reads a file: a header of the
// catalogue's fields, then one row per book (biblio) with its authors joined by "; " (autbiblio,
// autore) and its publisher's name (editori through biblio.id_edizione). Tables and columns are
// found with letter case ignored; a table or a column missing throws 3921 naming it.
std::unique_ptr<SheetReader> legacyReader(const QString& path);

} // namespace exchange
