#pragma once

// Export, import and the transfer of a whole archive from the command line, for whoever looks
// after the computers: no window, no display, an Italian message on standard error and a non-zero
// exit code when something fails.
//   carteo --esporta FILE --archivio ARCHIVIO
//   carteo --importa FILE --archivio ARCHIVIO [--anteprima]
//   carteo --trasferisci FILE.mdb postgresql://… (or an address, then a new file)
namespace commandline {

// True when the arguments ask for one of these commands.
bool wanted(int argc, char** argv);

// Runs the command; the program's exit code (0 done, 1 failed, 2 the command is not understood).
int run(int argc, char** argv);

} // namespace commandline
