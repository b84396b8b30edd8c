#include "pictures/ImageImport.h"

#include "app/Messages.h"
#include "pictures/JpegDecoder.h"
#include "pictures/PictureFiles.h"
#include "pictures/cDIBSection.h"

#include <QBuffer>
#include <QImageReader>

#include <utility>

namespace pictures {
namespace {

// Qt refuses pictures over 256 MB by default; a scanned floor plan may be larger.

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QString tooLarge(QSize size)
{
    return QStringLiteral("L'immagine è troppo grande (%1 x %2 pixel) per la memoria disponibile.")
        .arg(size.width())
        .arg(size.height());
}

// The one message for a JPEG file that cannot be imported; empty for success.
QString jpegMessage(const jpeg::Outcome& outcome)
{
    const QString invalid = kInvalidFormat + QLatin1Char('\r');
    switch (outcome.failure) {
    case jpeg::Failure::None:
        return {};
    case jpeg::Failure::CodecInit:
        return QStringLiteral("Impossibile inizializzare il codificatore JPEG: ") + outcome.detail;
    case jpeg::Failure::NotJpeg:
        return kInvalidFormat;
    case jpeg::Failure::Precision:
        return invalid + QStringLiteral("Il file JPEG ha più di 8 bit per campione: il programma non sa leggerlo.");
    case jpeg::Failure::Lossless:
        return invalid + QStringLiteral("Il file JPEG è compresso senza perdita (lossless): il programma non sa "
                                        "leggerlo.");
    case jpeg::Failure::Arithmetic:
        return invalid + QStringLiteral("Il file JPEG usa la codifica aritmetica: il programma non sa leggerlo.");
    case jpeg::Failure::TooLarge:
        return tooLarge(outcome.size);
    case jpeg::Failure::Damaged:
        return invalid + QStringLiteral("Il file è incompleto o danneggiato.");
    }
    return kInvalidFormat;
}

bool fail(const QString& text)
{
    msg::show(text, msg::Icon::None, msg::Buttons::Ok);
    return false;
}

} // namespace

bool CaricaImmagine(cDIBSection& buffer, const QString& path)
{
    QByteArray data;
    switch (readWholeFile(path, data)) {
    case ReadProblem::Missing:
        return fail(QStringLiteral("Il file %1 non esiste.").arg(quoted(path)));
    case ReadProblem::Unreadable:
        return fail(QStringLiteral("Impossibile leggere il file %1.").arg(quoted(path)));
    case ReadProblem::TooLarge:
        return fail(QStringLiteral("Il file %1 è troppo grande per essere un'immagine.").arg(quoted(path)));
    case ReadProblem::None:
        break;
    }
    if (data.isEmpty()) {
        return fail(kInvalidFormat);
    }

    cDIBSection loaded;
    if (jpeg::looksLikeJpeg(data)) {
        const jpeg::Outcome outcome = jpeg::decode(data, loaded);
        if (!outcome.ok()) {
            return fail(jpegMessage(outcome));
        }
    } else {
        QBuffer device(&data);
        device.open(QIODevice::ReadOnly);
        // The content decides; the name's extension only where the content does not tell.
        QImageReader reader(&device, pictureFormat(device, path));
        prepareReader(reader);
        const QSize size = reader.size();
        if (tooManyPixels(size)) {
            return fail(tooLarge(size));
        }
        const QImage image = reader.read();
        if (image.isNull()) {
            // A picture that Qt could have read but for its size is reported as such.
            const qint64 bytes = qint64(size.width()) * size.height() * 4;
            return fail(size.isValid() && bytes > qint64(kAllocationLimitMb) * 1024 * 1024 ? tooLarge(size)
                                                                                           : kInvalidFormat);
        }
        if (!loaded.fromImage(image)) {
            return fail(tooLarge(image.size()));
        }
    }
    buffer = std::move(loaded);
    return true;
}

} // namespace pictures
