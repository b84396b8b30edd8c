// carteo_jet: reads a Jet archive (.mdb of the earlier engine) for the program, in a process of its
// own, and writes what it read on its standard output, one record a line, fields separated by tabs
// (a tab, a line break, a carriage return and a backslash inside a field written as \t, \n, \r, \\):
//   carteo_jet tables ARCHIVE          the user tables
//   carteo_jet columns ARCHIVE TABLE   the table's columns
//   carteo_jet rows ARCHIVE TABLE      the rows the definition counts, then each row
// The last line is "\." (which no record can be) when everything was read; the exit status says what went wrong
// otherwise (exchange::JetArchive reads both). libmdb may loop, eat memory or write on stdout and stderr on a damaged
// file: here it can do so only within the limits below, and never into the program.
#include "exchange/jet/JetFile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__unix__)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// Kept in step with exchange/JetArchive.cpp.
enum Status { Done = 0, Usage = 2, Empty = 10, NotJet = 11, Short = 12, Unknown = 13, Damaged = 14, NoTable = 15 };

FILE* g_out = stdout;

void writeRecord(const std::vector<std::string>& fields)
{
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += '\t';
        for (const char c : fields[i]) {
            switch (c) {
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\\':
                line += "\\\\";
                break;
            default:
                line += c;
            }
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), g_out);
}

// The protocol gets stdout's descriptor for itself; whatever libmdb prints goes nowhere.
void isolateOutput()
{
#if defined(__unix__)
    const int protocol = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (protocol < 0 || null < 0)
        return;
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
    g_out = fdopen(protocol, "w");
    if (!g_out)
        g_out = stdout;
#if !defined(__SANITIZE_ADDRESS__) // the address sanitizer reserves far more address space
    // Some damaged files make libmdb allocate without end: it fails at this bound instead of
    // taking the machine's memory.
    const rlimit memory{rlim_t(2) << 30, rlim_t(2) << 30};
    setrlimit(RLIMIT_AS, &memory);
#endif
#endif
}

int run(int argc, char** argv)
{
    if (argc < 3)
        return Usage;
    const std::string command = argv[1], path = argv[2];
    switch (jet::checkHeader(path)) {
    case jet::Header::Empty:
        return Empty;
    case jet::Header::NotJet:
        return NotJet;
    case jet::Header::Short:
        return Short;
    case jet::Header::Unknown:
        return Unknown;
    default:
        break;
    }
    try {
        jet::File file(path);
        if (command == "tables") {
            for (const auto& name : file.tables())
                writeRecord({name});
        } else if ((command == "columns" || command == "rows") && argc >= 4) {
            auto table = file.table(argv[3]);
            if (!table)
                return NoTable;
            if (command == "columns") {
                for (const auto& name : table->columns())
                    writeRecord({name});
            } else {
                writeRecord({std::to_string(table->rowCount())});
                std::vector<std::string> values;
                while (table->next(values))
                    writeRecord(values);
            }
        } else {
            return Usage;
        }
    } catch (const jet::Damaged&) {
        return Damaged;
    }
    std::fputs("\\.\n", g_out); // a line that no record can be
    return Done;
}

} // namespace

int main(int argc, char** argv)
{
    isolateOutput();
    const int status = run(argc, argv);
    std::fflush(g_out);
    return status;
}
