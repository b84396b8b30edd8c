#include "store/Collation.h"

#include <QChar>
#include <array>
#include <sqlite3.h>

namespace store {
namespace {

struct FoldTables {
    // For every BMP code point: its base letter in lower case, and its lower-case form.
    std::array<char16_t, 0x10000> primary{};
    std::array<char16_t, 0x10000> secondary{};

    FoldTables()
    {
        for (uint32_t c = 0; c < 0x10000; ++c) {
            const QChar ch(static_cast<char16_t>(c));
            char16_t lower = ch.toCaseFolded().unicode();
            secondary[c] = lower;
            char16_t base = lower;
            if (c >= 0x80) {
                const QString dec = QChar(lower).decomposition();
                if (!dec.isEmpty() && QChar(lower).decompositionTag() == QChar::Canonical) {
                    base = dec.at(0).toCaseFolded().unicode();
                }
            }
            primary[c] = base;
        }
    }
};

const FoldTables& tables()
{
    static const FoldTables t;
    return t;
}

// Decodes one code point from UTF-8; invalid bytes decode to themselves.
inline uint32_t nextCodePoint(const unsigned char*& p, const unsigned char* end)
{
    uint32_t c = *p++;
    if (c < 0x80) {
        return c;
    }
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    c &= extra == 3 ? 0x07 : extra == 2 ? 0x0F : 0x1F;
    while (extra-- > 0 && p < end && (*p & 0xC0) == 0x80) {
        c = (c << 6) | (*p++ & 0x3F);
    }
    return c;
}

template <typename Table>
int comparePass(const unsigned char* a, const unsigned char* aEnd, const unsigned char* b, const unsigned char* bEnd,
                const Table& table)
{
    while (a < aEnd && b < bEnd) {
        uint32_t ca = nextCodePoint(a, aEnd);
        uint32_t cb = nextCodePoint(b, bEnd);
        uint32_t fa = ca < 0x10000 ? table[ca] : ca;
        uint32_t fb = cb < 0x10000 ? table[cb] : cb;
        if (fa != fb) {
            return fa < fb ? -1 : 1;
        }
    }
    if (a < aEnd) {
        return 1;
    }
    if (b < bEnd) {
        return -1;
    }
    return 0;
}

int collationCallback(void*, int lenA, const void* a, int lenB, const void* b)
{
    return compareText(static_cast<const char*>(a), lenA, static_cast<const char*>(b), lenB);
}

} // namespace

int compareText(const char* a, int lenA, const char* b, int lenB)
{
    const auto* ua = reinterpret_cast<const unsigned char*>(a);
    const auto* ub = reinterpret_cast<const unsigned char*>(b);
    const FoldTables& t = tables();
    int r = comparePass(ua, ua + lenA, ub, ub + lenB, t.primary);
    if (r == 0) {
        r = comparePass(ua, ua + lenA, ub, ub + lenB, t.secondary);
    }
    return r;
}

int compareText(const QString& a, const QString& b)
{
    const QByteArray ua = a.toUtf8();
    const QByteArray ub = b.toUtf8();
    return compareText(ua.constData(), int(ua.size()), ub.constData(), int(ub.size()));
}

void registerCollation(sqlite3* db)
{
    tables();
    sqlite3_create_collation_v2(db, kCollationName, SQLITE_UTF8, nullptr, collationCallback, nullptr);
}

} // namespace store
