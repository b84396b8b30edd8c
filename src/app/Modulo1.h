#pragma once

#include <QString>

// Process-wide settings, read and written on the user-interface thread only.
namespace Modulo1 {

inline QString PercorsoArchivio; // full path of the open archive
inline QString CartellaArchivio; // the archive's folder, with a trailing backslash or slash
inline QString FileArchivio;     // the archive's file name without folder
inline qint64 IdLibroCorrente = 0;
inline qint64 IdAutoreCorrente = 0;
inline qint32 IdEditoreCorrente = 0;
inline bool NuovoRecord = false;
inline bool FotoAperta = false;
inline bool ImportaFoto = false;
inline int SceltaStampa = 0;
inline bool StampaTutti = false;
inline bool StampaLogo = false;

// Every setting back to its value at start-up (the tests start each case from here).
inline void reset()
{
    PercorsoArchivio.clear();
    CartellaArchivio.clear();
    FileArchivio.clear();
    IdLibroCorrente = 0;
    IdAutoreCorrente = 0;
    IdEditoreCorrente = 0;
    NuovoRecord = false;
    FotoAperta = false;
    ImportaFoto = false;
    SceltaStampa = 0;
    StampaTutti = false;
    StampaLogo = false;
}

} // namespace Modulo1
