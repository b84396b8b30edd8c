#pragma once

#include <QtGlobal>

#include <functional>
#include <optional>

namespace store {

class Archive;

namespace catalogue {

// Book keys are chosen by the program, from 1 to this number.
inline constexpr qint64 kHighestBookKey = 200000;

// A book key that no book has. Random keys (from `random`, in [1, kHighestBookKey]) are tried,
// each with one look-up of the key; in a nearly full catalogue the first free key in key order is
// taken instead. Nothing when every key is taken.
std::optional<qint64> freeBookKey(Archive& archive, const std::function<qint64()>& random);

} // namespace catalogue
} // namespace store
