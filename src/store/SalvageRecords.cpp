#include "store/SalvageRecords.h"

#include "store/Collation.h"

#include <QString>

#include <array>
#include <cctype>
#include <cmath>
#include <cstring>

namespace store::salvage::records {
namespace {

int sign(qint64 v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

// Reads a varint at `pos`, never past `end`; false when it would run past.
bool readVarint(const uchar* data, qsizetype& pos, qsizetype end, quint64& value)
{
    value = 0;
    for (int i = 0; i < 8; ++i) {
        if (pos >= end) {
            return false;
        }
        const uchar byte = data[pos++];
        value = (value << 7) | (byte & 0x7f);
        if (!(byte & 0x80)) {
            return true;
        }
    }
    if (pos >= end) {
        return false;
    }
    value = (value << 8) | data[pos++];
    return true;
}

// Size of a value of this serial type, or -1 for the reserved types 10 and 11.
qint64 serialSize(quint64 type)
{
    static constexpr std::array<qint64, 10> fixed{0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
    if (type < fixed.size()) {
        return fixed[type];
    }
    if (type < 12) {
        return -1;
    }
    return qint64((type - 12) / 2);
}

// The part of a payload of `total` bytes kept on its page, as the engine splits a long one.
qint64 localPart(qint64 total, qint64 usable, qint64 maxLocal)
{
    if (total <= maxLocal) {
        return total;
    }
    const qint64 minLocal = (usable - 12) * 32 / 255 - 23;
    const qint64 surplus = minLocal + (total - minLocal) % (usable - 4);
    return surplus <= maxLocal ? surplus : minLocal;
}

Shape shapeOfRow(const Row& row)
{
    Shape shape;
    shape.count = int(row.size());
    shape.first = row.empty() ? Value::Null : row[0].kind;
    shape.second = row.size() < 2 ? Value::Null : row[1].kind;
    shape.allIntegers = std::all_of(row.begin(), row.end(), [](const Value& v) { return v.kind == Value::Integer; });
    if (shape.first == Value::Text) {
        shape.firstText = row[0].bytes;
    }
    return shape;
}

Value::Kind kindOf(quint64 serialType)
{
    if (serialType == 0) {
        return Value::Null;
    }
    if (serialType == 7) {
        return Value::Real;
    }
    if (serialType < 12) {
        return Value::Integer;
    }
    return serialType % 2 == 0 ? Value::Blob : Value::Text;
}

Value decodeValue(quint64 type, const uchar* d, qint64 size, int encoding)
{
    Value v;
    if (type >= 1 && type <= 6) {
        quint64 u = 0;
        for (qint64 i = 0; i < size; ++i) {
            u = (u << 8) | d[i];
        }
        if (size < 8 && (d[0] & 0x80)) {
            u |= ~quint64(0) << (8 * size); // sign extension
        }
        v.kind = Value::Integer;
        v.integer = qint64(u);
    } else if (type == 7) {
        quint64 u = 0;
        for (int i = 0; i < 8; ++i) {
            u = (u << 8) | d[i];
        }
        v.kind = Value::Real;
        std::memcpy(&v.real, &u, sizeof u);
    } else if (type == 8 || type == 9) {
        v.kind = Value::Integer;
        v.integer = type == 9 ? 1 : 0;
    } else if (type >= 12 && type % 2 == 0) {
        v.kind = Value::Blob;
        v.bytes = QByteArray(reinterpret_cast<const char*>(d), size);
    } else if (type >= 13) {
        v.kind = Value::Text;
        if (encoding == Utf8) {
            v.bytes = QByteArray(reinterpret_cast<const char*>(d), size);
        } else {
            QString text(size / 2, Qt::Uninitialized);
            for (qint64 i = 0; i < size / 2; ++i) {
                const uchar a = d[2 * i];
                const uchar b = d[2 * i + 1];
                text[i] = QChar(encoding == Utf16le ? ushort(a | (b << 8)) : ushort((a << 8) | b));
            }
            v.bytes = text.toUtf8();
        }
    }
    return v;
}

// Decodes a record: header size, serial types, values. `payload` may be shorter than
// `fullSize` when its overflow chain is broken; values past its end become NULL.
bool decodeRecord(const QByteArray& payload, quint64 fullSize, int encoding, Cell& cell)
{
    const uchar* d = bytesOf(payload);
    const qsizetype available = payload.size();
    std::vector<quint64> types;
    quint64 recordSize = 0;
    const bool header = walkRecordHeader(
        d, available,
        [&types](quint64 type, qint64, quint64) {
            types.push_back(type);
            return true;
        },
        recordSize);
    // A record fills its payload exactly; garbage almost never does.
    if (!header || recordSize != fullSize) {
        return false;
    }
    quint64 headerSize = recordSize;
    for (const quint64 type : types) {
        headerSize -= quint64(serialSize(type));
    }
    cell.values.clear();
    cell.values.reserve(types.size());
    quint64 offset = headerSize;
    for (const quint64 type : types) {
        const qint64 size = serialSize(type);
        if (size > 0 && offset + quint64(size) > quint64(available)) {
            cell.lost.push_back(int(cell.values.size()));
            cell.values.push_back(Value{});
        } else {
            cell.values.push_back(decodeValue(type, d + qMin(offset, quint64(available)), size, encoding));
        }
        offset += quint64(size);
    }
    return true;
}

Expect expectFor(const QString& declaredType, bool keyLike)
{
    if (declaredType.contains(QLatin1String("INT"))) {
        return keyLike ? Expect::Key : Expect::Whole;
    }
    if (declaredType.contains(QLatin1String("CHAR")) || declaredType.contains(QLatin1String("CLOB")) ||
        declaredType.contains(QLatin1String("TEXT"))) {
        return Expect::Text;
    }
    if (declaredType.contains(QLatin1String("NUM")) || declaredType.contains(QLatin1String("REAL")) ||
        declaredType.contains(QLatin1String("DOUB")) || declaredType.contains(QLatin1String("FLOA"))) {
        return Expect::Number;
    }
    return Expect::Anything;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF; and no NUL, which no text
// of the program holds.
bool validText(const char* data, qsizetype size)
{
    const auto* s = reinterpret_cast<const uchar*>(data);
    qsizetype i = 0;
    while (i < size) {
        const uchar c = s[i];
        if (c == 0) {
            return false;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        quint32 point = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            point = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            point = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            point = c & 0x07;
        } else {
            return false;
        }
        if (size - i <= extra) {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            const uchar next = s[i + k];
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3F);
        }
        if ((extra == 2 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
            (extra == 3 && (point < 0x10000 || point > 0x10FFFF))) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool fits(Expect expect, const ValueRef& v)
{
    switch (expect) {
    case Expect::Key:
        return v.kind == Value::Integer && v.integer >= 1 && v.integer <= kLargestKey;
    case Expect::Whole:
        return v.kind == Value::Null ||
               (v.kind == Value::Integer && v.integer >= kSmallestWhole && v.integer <= kLargestKey);
    case Expect::Number:
        return v.kind == Value::Null || v.kind == Value::Integer || (v.kind == Value::Real && std::isfinite(v.real));
    case Expect::Text:
        return v.kind == Value::Null || (v.kind == Value::Text && validText(v.data, v.size));
    case Expect::Anything:
        break;
    }
    return true;
}

quint64 fingerprint(const ValueRef& v, quint64 hash)
{
    const auto mix = [&hash](const void* p, size_t n) {
        const auto* b = static_cast<const uchar*>(p);
        for (size_t i = 0; i < n; ++i) {
            hash = (hash ^ b[i]) * 1099511628211ULL;
        }
    };
    const uchar kind = v.kind;
    mix(&kind, 1);
    switch (v.kind) {
    case Value::Integer:
        mix(&v.integer, sizeof v.integer);
        break;
    case Value::Real:
        mix(&v.real, sizeof v.real);
        break;
    case Value::Text:
    case Value::Blob:
        mix(v.data, size_t(v.size));
        break;
    case Value::Null:
        break;
    }
    return hash;
}

Ordering orderingNamed(const QString& collation)
{
    if (collation.compare(QLatin1String("BINARY"), Qt::CaseInsensitive) == 0) {
        return Ordering::Binary;
    }
    if (collation.compare(QLatin1String("NOCASE"), Qt::CaseInsensitive) == 0) {
        return Ordering::NoCase;
    }
    if (collation.compare(QLatin1String(kCollationName), Qt::CaseInsensitive) == 0) {
        return Ordering::Reader;
    }
    return Ordering::Unknown;
}

// Compares two values as the engine orders them in an index: NULL, numbers, texts by their
// collation, blobs by their bytes.
int compareValues(const Value& a, const Value& b, Ordering ordering)
{
    const auto rank = [](Value::Kind k) {
        return k == Value::Null ? 0 : (k == Value::Integer || k == Value::Real) ? 1 : k == Value::Text ? 2 : 3;
    };
    if (rank(a.kind) != rank(b.kind)) {
        return rank(a.kind) < rank(b.kind) ? -1 : 1;
    }
    switch (rank(a.kind)) {
    case 0:
        return 0;
    case 1: {
        if (a.kind == Value::Integer && b.kind == Value::Integer) {
            return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
        }
        const long double x = a.kind == Value::Integer ? (long double)a.integer : (long double)a.real;
        const long double y = b.kind == Value::Integer ? (long double)b.integer : (long double)b.real;
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case 2:
        if (ordering == Ordering::Reader) {
            return sign(
                compareText(a.bytes.constData(), int(a.bytes.size()), b.bytes.constData(), int(b.bytes.size())));
        }
        if (ordering == Ordering::NoCase) {
            const qsizetype n = qMin(a.bytes.size(), b.bytes.size());
            for (qsizetype i = 0; i < n; ++i) {
                const int x = std::tolower(uchar(a.bytes.at(i)));
                const int y = std::tolower(uchar(b.bytes.at(i)));
                if (x != y) {
                    return x < y ? -1 : 1;
                }
            }
            return sign(a.bytes.size() - b.bytes.size());
        }
        [[fallthrough]];
    default: {
        const int c =
            std::memcmp(a.bytes.constData(), b.bytes.constData(), size_t(qMin(a.bytes.size(), b.bytes.size())));
        return c != 0 ? sign(c) : sign(a.bytes.size() - b.bytes.size());
    }
    }
}

} // namespace store::salvage::records
