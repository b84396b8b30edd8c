#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// The texts of the printouts: how a stored value is printed, the cuts, and the notes' lines.
namespace printing {

// A value as the printouts print it: a text as it is; a number with one blank before it (the place
// of its sign) and one after; nothing for no value.
QString fieldText(const QVariant& value);
// The first `n` characters of a value's text (50 unless a printout says otherwise).
QString firstChars(const QVariant& value, int n = 50);

// The lines of "NOTE: " + notes, each at most `width` characters: a line ends at a line break, or
// at the last space that lies at most one place after the width (the space itself is dropped); a
// word longer than the width is broken at the width and goes on on the next line. A line break is
// CR LF, or a CR or LF alone.
QStringList noteLines(const QString& text, int width = 80);

} // namespace printing
