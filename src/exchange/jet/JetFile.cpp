#include "exchange/jet/JetFile.h"

#include <mdbtools.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace jet {

namespace {

constexpr int kBindSize = 65536; // the longest field the import takes (exchange::kLongestField)

bool sameName(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y && !(x < 128 && y < 128 && std::tolower(x) == std::tolower(y)))
            return false;
    }
    return true;
}

} // namespace

Header checkHeader(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return Header::NotJet;
    const std::streamoff size = in.tellg();
    if (size == 0)
        return Header::Empty;
    // The first page: 4 bytes, the engine's name, the version byte at 0x14.
    char head[0x15] = {};
    in.seekg(0);
    if (size < static_cast<std::streamoff>(sizeof head) || !in.read(head, sizeof head))
        return Header::NotJet;
    static const char jet[] = "\0\x01\0\0Standard Jet DB";
    static const char ace[] = "\0\x01\0\0Standard ACE DB";
    const bool isJet = std::memcmp(head, jet, sizeof jet - 1) == 0;
    const bool isAce = std::memcmp(head, ace, sizeof ace - 1) == 0;
    if (!isJet && !isAce)
        return Header::NotJet;
    const int version = static_cast<unsigned char>(head[0x14]);
    Header kind;
    if (version == MDB_VER_JET3)
        kind = Header::Jet3;
    else if (version == MDB_VER_JET4)
        kind = Header::Jet4;
    else if (version >= MDB_VER_ACCDB_2007 && version <= MDB_VER_ACCDB_2019)
        kind = Header::Ace;
    else
        return Header::Unknown;
    // An archive is whole pages, at least the header page and the catalogue's.
    const std::streamoff page = kind == Header::Jet3 ? 2048 : 4096;
    if (size < 3 * page || size % page != 0)
        return Header::Short;
    return kind;
}

struct File::Handle {
    MdbHandle* mdb = nullptr;
    ~Handle()
    {
        if (mdb)
            mdb_close(mdb);
    }
};

File::File(const std::string& path) : m_handle(std::make_unique<Handle>())
{
    m_handle->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!m_handle->mdb)
        throw Damaged{"mdb_open"};
    mdb_set_bind_size(m_handle->mdb, kBindSize);
    mdb_set_date_fmt(m_handle->mdb, "%d/%m/%Y %H:%M:%S");
    mdb_set_shortdate_fmt(m_handle->mdb, "%d/%m/%Y");
    mdb_set_boolean_fmt_numbers(m_handle->mdb);
    if (!mdb_read_catalog(m_handle->mdb, MDB_TABLE))
        throw Damaged{"mdb_read_catalog"};
}

File::~File() = default;

std::vector<std::string> File::tables() const
{
    std::vector<std::string> names;
    MdbHandle* mdb = m_handle->mdb;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE && mdb_is_user_table(entry))
            names.emplace_back(entry->object_name);
    }
    return names;
}

struct File::Table::Impl {
    std::string name;
    MdbTableDef* def = nullptr;
    std::vector<std::vector<char>> buffers;
    std::vector<int> lengths;
    std::vector<bool> text; // columns read as text; binary and OLE ones stay empty
    ~Impl()
    {
        if (def)
            mdb_free_tabledef(def);
    }
};

std::unique_ptr<File::Table> File::table(const std::string& name) const
{
    MdbHandle* mdb = m_handle->mdb;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry) || !sameName(name, entry->object_name))
            continue;
        auto impl = std::make_unique<Table::Impl>();
        impl->name = entry->object_name;
        impl->def = mdb_read_table(entry);
        if (!impl->def)
            throw Damaged{"mdb_read_table"};
        if (!mdb_read_columns(impl->def))
            throw Damaged{"mdb_read_columns"};
        const unsigned count = impl->def->num_cols;
        impl->buffers.resize(count);
        impl->lengths.assign(count, 0);
        impl->text.assign(count, true);
        for (unsigned c = 0; c < count; ++c) {
            auto* col = static_cast<MdbColumn*>(g_ptr_array_index(impl->def->columns, c));
            if (col->col_type == MDB_OLE || col->col_type == MDB_BINARY) {
                impl->text[c] = false;
                continue;
            }
            impl->buffers[c].assign(kBindSize + 1, '\0');
            mdb_bind_column(impl->def, static_cast<int>(c + 1), impl->buffers[c].data(), &impl->lengths[c]);
        }
        mdb_rewind_table(impl->def);
        return std::unique_ptr<Table>(new Table(std::move(impl)));
    }
    return nullptr;
}

File::Table::Table(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
File::Table::~Table() = default;

const std::string& File::Table::name() const
{
    return m_impl->name;
}

std::vector<std::string> File::Table::columns() const
{
    std::vector<std::string> names;
    for (unsigned c = 0; c < m_impl->def->num_cols; ++c)
        names.emplace_back(static_cast<MdbColumn*>(g_ptr_array_index(m_impl->def->columns, c))->name);
    return names;
}

std::int64_t File::Table::rowCount() const
{
    return m_impl->def->num_rows;
}

bool File::Table::next(std::vector<std::string>& values)
{
    if (!mdb_fetch_row(m_impl->def))
        return false;
    const size_t count = m_impl->buffers.size();
    values.assign(count, {});
    for (size_t c = 0; c < count; ++c) {
        if (!m_impl->text[c])
            continue;
        const int length = std::clamp(m_impl->lengths[c], 0, kBindSize);
        // A null value leaves the length at 0.
        values[c].assign(m_impl->buffers[c].data(), static_cast<size_t>(length));
    }
    return true;
}

} // namespace jet
