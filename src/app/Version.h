#pragma once

#include <QString>

namespace app {

// The program's version, as the build names it ("1.0.0").
QString version();

} // namespace app
