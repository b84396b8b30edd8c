#include "pictures/FittedPicture.h"

#include "pictures/Photos.h"
#include "pictures/PictureReader.h"

#include <QLabel>
#include <QPushButton>
#include <QPixmap>
#include <QWidget>

namespace pictures {

bool showFitted(QLabel* picture, const QWidget* frame, const DisplayPicture& read)
{
    picture->hide();
    const QSize inner = frame->contentsRect().size();
    if (read.image.isNull() || read.naturalSize.isEmpty()) {
        picture->clear();
        return false;
    }
    // Fitted by the picture's own size; the decoded picture may be smaller or larger than that.
    const QSize size = fittedSize(read.naturalSize, inner);
    const QImage shown = read.image.size() == size
                             ? read.image
                             : read.image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture->setPixmap(QPixmap::fromImage(shown));
    picture->setGeometry((frame->width() - size.width()) / 2, (frame->height() - size.height()) / 2, size.width(),
                         size.height());
    picture->show();
    return true;
}

QPushButton* boldButton(QWidget* parent, const QString& name, const QString& caption, QRect where)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    QFont bold = b->font();
    bold.setBold(true);
    b->setFont(bold);
    b->setGeometry(where);
    return b;
}

} // namespace pictures
