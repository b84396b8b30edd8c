#include "app/Version.h"

// Given by the build to this file alone, so a new version recompiles nothing else.
#ifndef CARTEO_VERSION
#error "CARTEO_VERSION is set by the build"
#endif

namespace app {

QString version()
{
    return QStringLiteral(CARTEO_VERSION);
}

} // namespace app
