#pragma once

#include <QSize>
#include <QString>

// Where a book's photo lives, and how a picture is fitted into the frame that shows it.
namespace pictures {

// The photo of a book: the program folder + "foto/" + the book's key + ".jpg". Photos live beside
// the program, so every archive it opens shares them.
QString photoFile(qint64 bookId);

// The size a picture of `natural` size is shown at in a frame of `inner` size: as wide as the frame
// at most, then as high at most, its proportions kept; a smaller picture keeps its size. An empty
// size gives an empty size.
QSize fittedSize(QSize natural, QSize inner);

} // namespace pictures
