#pragma once

#include <QString>

struct sqlite3;

namespace store {

// Name of the collation that the archive's text columns declare.
inline constexpr const char* kCollationName = "ITALIANO";

// Compares two UTF-8 texts as a reader expects: letters first by their base letter ignoring case
// and accents (È with E), then accents, never case. Deterministic and locale-independent, so an
// index built on one computer stays ordered on every other. Returns <0, 0, >0.
int compareText(const char* a, int lenA, const char* b, int lenB);
int compareText(const QString& a, const QString& b);

// Registers the collation on a connection.
void registerCollation(sqlite3* db);

} // namespace store
