#include "store/Catalogue.h"

#include "store/Archive.h"

namespace store::catalogue {
namespace {

// Random tries before looking for a gap: with the catalogue nine tenths full, 64 misses in a row
// happen about once in a thousand.
constexpr int kRandomTries = 64;

} // namespace

std::optional<qint64> freeBookKey(Archive& archive, const std::function<qint64()>& random)
{
    Statement taken = archive.prepareExact(QStringLiteral("SELECT 1 FROM biblio WHERE id = ?"));
    for (int attempt = 0; attempt < kRandomTries; ++attempt) {
        const qint64 key = random();
        if (key < 1 || key > kHighestBookKey) {
            continue;
        }
        taken.reset();
        taken.bindInt(1, key);
        if (!taken.step()) {
            return key;
        }
    }
    // The first gap, walking the keys in order: key 1, or the key after one whose successor is free.
    taken.reset();
    taken.bindInt(1, 1);
    if (!taken.step()) {
        return 1;
    }
    Statement gap =
        archive.prepareExact(QStringLiteral("SELECT b.id + 1 FROM biblio b WHERE b.id >= 1 AND b.id < ? AND NOT EXISTS "
                                            "(SELECT 1 FROM biblio n WHERE n.id = b.id + 1) ORDER BY b.id LIMIT 1"));
    gap.bindInt(1, kHighestBookKey);
    if (gap.step()) {
        return gap.int64(0);
    }
    return std::nullopt;
}

} // namespace store::catalogue
