#pragma once

// What the salvage reads from an archive file below the engine: big-endian numbers, varints,
// records and their values; and what the values of a sound row look like. For the salvage alone.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace store::salvage::records {

// The engine's own limits on one value and on the columns of a table: anything larger is garbage.
constexpr quint64 kMaxPayload = 1000000000;
constexpr int kMaxColumns = 2000;

enum TextEncoding { Utf8 = 1, Utf16le = 2, Utf16be = 3 };

inline quint32 be16(const uchar* p)
{
    return (quint32(p[0]) << 8) | p[1];
}

inline quint32 be32(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

inline const uchar* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const uchar*>(data.constData());
}

// Reads a varint at `pos`, never past `end`; false when it would run past.
bool readVarint(const uchar* data, qsizetype& pos, qsizetype end, quint64& value);

// Size of a value of this serial type, or -1 for the reserved types 10 and 11.
qint64 serialSize(quint64 type);

// The part of a payload of `total` bytes kept on its page, as the engine splits a long one.
qint64 localPart(qint64 total, qint64 usable, qint64 maxLocal);

// Walks the header of the record at `d` (`available` bytes of it at hand): for each column in
// order, `column(type, size, offset)` is called with the value's serial type, its size and its
// offset from the record's start, and may stop the walk by returning false. Gives the size the
// header and the values add up to; false when the header is not a record's (or the walk stopped).
template <typename Column>
bool walkRecordHeader(const uchar* d, qsizetype available, Column column, quint64& recordSize)
{
    qsizetype pos = 0;
    quint64 headerSize = 0;
    if (!readVarint(d, pos, available, headerSize) || headerSize < quint64(pos) || headerSize > quint64(available)) {
        return false;
    }
    quint64 bodySize = 0;
    int columns = 0;
    while (pos < qsizetype(headerSize)) {
        quint64 type = 0;
        if (!readVarint(d, pos, qsizetype(headerSize), type)) {
            return false;
        }
        const qint64 size = serialSize(type);
        if (size < 0 || quint64(size) > kMaxPayload || columns >= kMaxColumns ||
            !column(type, size, headerSize + bodySize)) {
            return false;
        }
        ++columns;
        bodySize += quint64(size);
    }
    recordSize = headerSize + bodySize;
    return columns > 0;
}

// ---------------------------------------------------------------- values

struct Value {
    enum Kind : quint8 { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes; // text as UTF-8, or the blob
};
using Row = std::vector<Value>;

struct Cell {
    qint64 key = 0;
    Row values;
    std::vector<int> lost; // values cut off with a broken overflow chain, left NULL
};

inline bool isText(const Row& row, size_t i)
{
    return i < row.size() && row[i].kind == Value::Text;
}

inline bool isInteger(const Row& row, size_t i)
{
    return i < row.size() && row[i].kind == Value::Integer;
}

// What tells which table a record belongs to: the number of its values, the kinds of the first
// two, whether all are whole numbers, and the first one's text (a schema row's type). Read from a
// decoded row, or straight from a record's bytes when only the shape is wanted.
struct Shape {
    int count = 0;
    Value::Kind first = Value::Null;
    Value::Kind second = Value::Null;
    bool allIntegers = true;
    QByteArrayView firstText;
};

Shape shapeOfRow(const Row& row);

Value::Kind kindOf(quint64 serialType);

Value decodeValue(quint64 type, const uchar* d, qint64 size, int encoding);

// Decodes a record: header size, serial types, values. `payload` may be shorter than
// `fullSize` when its overflow chain is broken; values past its end become NULL.
bool decodeRecord(const QByteArray& payload, quint64 fullSize, int encoding, Cell& cell);

// ---------------------------------------------------------------- checks of a salvaged row

// Keys and whole numbers are 32-bit in every archive the program writes, and in the windows that
// show them: a larger one is garbage.
constexpr qint64 kLargestKey = 2147483647;
constexpr qint64 kSmallestWhole = -2147483647 - 1;
// When the counter of a table's automatic keys is lost, it goes on from the highest key seen
// anywhere plus this many: rows deleted above the highest one left no trace, and their keys must
// not be handed out again.
constexpr qint64 kCounterMargin = 1000;

// What a column holds, by its declared type.
enum class Expect : quint8 {
    Anything,
    Key,    // a key, or a link to one: a whole number from 1 to kLargestKey
    Whole,  // a 32-bit whole number, or NULL
    Number, // a whole or a finite real number (a price), or NULL
    Text,   // valid UTF-8 without NUL, or NULL
};

Expect expectFor(const QString& declaredType, bool keyLike);

// One value as read, pointing into the record or the engine's row without a copy.
struct ValueRef {
    Value::Kind kind = Value::Null;
    qint64 integer = 0;
    double real = 0;
    const char* data = nullptr;
    qsizetype size = 0;
};

inline ValueRef refOf(const Value& v)
{
    return ValueRef{v.kind, v.integer, v.real, v.bytes.constData(), v.bytes.size()};
}

inline ValueRef keyRef(qint64 key)
{
    ValueRef r;
    r.kind = Value::Integer;
    r.integer = key;
    return r;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF; and no NUL, which no text
// of the program holds.
bool validText(const char* data, qsizetype size);

bool fits(Expect expect, const ValueRef& v);

// A fingerprint of values, to tell whether a row agrees with an index entry without keeping the
// entry's text (FNV-1a, 64 bits: a garbled row never matches by chance).
constexpr quint64 kFingerprintStart = 1469598103934665603ULL;

quint64 fingerprint(const ValueRef& v, quint64 hash);

// The orderings an index of the archive may be built with.
enum class Ordering : quint8 { Binary, NoCase, Reader, Unknown };

Ordering orderingNamed(const QString& collation);

// Compares two values as the engine orders them in an index: NULL, numbers, texts by their
// collation, blobs by their bytes.
int compareValues(const Value& a, const Value& b, Ordering ordering);

} // namespace store::salvage::records
