#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A Jet archive (.mdb of the earlier engine) read through libmdb. Only the helper process
// carteo_jet uses it: libmdb is C code that was not written for damaged files and may loop or run
// out of memory on some, so the program never loads it into its own process.
namespace jet {

// What the first page says about a file, checked before libmdb sees it.
enum class Header { Jet3, Jet4, Ace, Empty, Short, NotJet, Unknown };
Header checkHeader(const std::string& path);

// Thrown for a file that opened as a Jet archive but could not be read further.
struct Damaged {
    std::string what;
};

class File {
  public:
    explicit File(const std::string& path); // throws Damaged
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // The user tables, in the catalogue's order.
    std::vector<std::string> tables() const;

    class Table;
    // The table with this name, letter case ignored; null when there is none.
    std::unique_ptr<Table> table(const std::string& name) const;

  private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
};

class File::Table {
  public:
    ~Table();
    const std::string& name() const;
    std::vector<std::string> columns() const;
    // As the table's definition says; a damaged file may hold fewer.
    std::int64_t rowCount() const;
    // The next row's values as UTF-8 texts (binary columns empty); false at the end.
    bool next(std::vector<std::string>& values);

  private:
    friend class File;
    struct Impl;
    explicit Table(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace jet
