#pragma once

#include <QString>
#include <cstdint>

namespace bench {

// A small, fast pseudo-random generator (xoshiro256**, started through splitmix64) whose sequence
// is the same on every compiler and standard library, so an archive made from a variant is the same
// file content everywhere.
class Random {
  public:
    explicit Random(std::uint64_t variant);
    std::uint64_t next();
    // A whole number in [0, n); n > 0.
    std::uint32_t below(std::uint32_t n);
    // A whole number in [lo, hi].
    int between(int lo, int hi) { return lo + int(below(std::uint32_t(hi - lo + 1))); }
    // A number in [0, 1).
    double unit() { return double(next() >> 11) * 0x1.0p-53; }
    // True with probability p.
    bool chance(double p) { return unit() < p; }
    // An index in [0, n) where low indexes are more likely (a skew of 1 is uniform).
    std::uint32_t skewed(std::uint32_t n, double skew);

  private:
    std::uint64_t m_s[4];
};

struct ArchiveSize {
    int books = 100000;
    int authors = 60000;
    int links = 150000;
    int publishers = 5000;
    // The loans desk: borrowers, and loans of which `overdueLoans` are open and past due on
    // kLoansToday, `openLoans` open and not yet due, the rest returned. Made from a random sequence
    // of their own, so the catalogue is the same with or without them.
    int borrowers = 5000;
    int loans = 20000;
    int overdueLoans = 2000;
    int openLoans = 3000;
    std::uint64_t variant = 20240501;
};

// The day the generated loans are reckoned from: the overdue ones are due before it.
inline constexpr int kLoansTodayYear = 2026, kLoansTodayMonth = 6, kLoansTodayDay = 15;

struct GeneratedArchive {
    qint64 books = 0;
    qint64 authors = 0;
    qint64 links = 0;
    qint64 publishers = 0;
    qint64 booksWithoutAuthors = 0;
    qint64 booksWithSeveralAuthors = 0;
    qint64 booksWithoutPublisher = 0;     // id_edizione null
    qint64 booksWithMissingPublisher = 0; // id_edizione names no publisher
    qint64 borrowers = 0;
    qint64 loans = 0;
    double seconds = 0;
};

// Creates a new archive at `path` (which must not exist) with the program's own schema and fills
// it with a catalogue of the given size: Italian titles in upper case as the program stores them,
// with accented letters and apostrophes; genres, years, shelf positions, towns, prices, notes and
// floor-plan positions; authors as "NOME COGNOME"; publishers with town, address and telephone.
// Book keys are distinct random numbers from 1 to 200000 (or to `books` if larger), as the
// program chooses them. Every row goes in through prepared statements in one transaction.
// The same size and variant always give the same rows from the same build (the order in which a
// compiler evaluates arguments decides which random number goes where). Throws store::DbError or
// std::runtime_error.
GeneratedArchive generateArchive(const QString& path, const ArchiveSize& size);

} // namespace bench
