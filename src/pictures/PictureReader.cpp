#include "pictures/PictureReader.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace pictures {

DisplayPicture readForDisplay(const QString& path, QSize target)
{
    try {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        const QSize stored = reader.size();
        if (!stored.isValid() || stored.isEmpty()) {
            return {};
        }
        // The file's rows may be stored turned by a quarter; what is shown is the upright picture.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize upright = turned ? stored.transposed() : stored;
        // Decoded no larger than it is shown: the reader can skip most of a large photo's detail.
        double scale = 1.0;
        if (target.width() > 0 && target.height() > 0) {
            scale =
                std::min({1.0, double(target.width()) / upright.width(), double(target.height()) / upright.height()});
        }
        if (scale < 1.0) {
            reader.setScaledSize(QSize(std::max(1, int(std::ceil(stored.width() * scale))),
                                       std::max(1, int(std::ceil(stored.height() * scale)))));
        }
        QImage image = reader.read();
        if (image.isNull()) {
            return {};
        }
        return {std::move(image), upright};
    } catch (...) {
        return {};
    }
}

} // namespace pictures
