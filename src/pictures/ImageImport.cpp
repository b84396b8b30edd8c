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

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QString tooLarge(const QString& path, QSize size)
{
    return QStringLiteral("L'immagine %1 è troppo grande (%2 x %3 pixel) per la memoria disponibile.")
        .arg(quoted(path))
        .arg(size.width())
        .arg(size.height());
}

// The one message for a JPEG file that cannot be imported; empty for success.
QString jpegMessage(const QString& path, const jpeg::Outcome& outcome)
{
    const QString why = invalidFormatOf(path) + QLatin1Char('\r');
    switch (outcome.failure) {
    case jpeg::Failure::None:
        return {};
    case jpeg::Failure::CodecInit:
        return QStringLiteral("Impossibile leggere il file %1: il codificatore JPEG non si avvia (%2).")
            .arg(quoted(path), outcome.detail);
    case jpeg::Failure::NotJpeg:
        return invalidFormatOf(path);
    case jpeg::Failure::Precision:
        return why + QStringLiteral("Il file JPEG ha più di 8 bit per campione: il programma non sa leggerlo.");
    case jpeg::Failure::Lossless:
        return why + QStringLiteral("Il file JPEG è compresso senza perdita (lossless): il programma non sa "
                                    "leggerlo.");
    case jpeg::Failure::Arithmetic:
        return why + QStringLiteral("Il file JPEG usa la codifica aritmetica: il programma non sa leggerlo.");
    case jpeg::Failure::TooLarge:
        return tooLarge(path, outcome.size);
    case jpeg::Failure::Damaged:
        return why + QStringLiteral("Il file è incompleto o danneggiato.");
    case jpeg::Failure::TooMuchWork:
        return why + QStringLiteral("Le sue %1 scansioni chiedono troppo lavoro per essere lette: il file è "
                                    "danneggiato o fatto apposta per bloccare chi lo apre.")
                         .arg(outcome.scans);
    }
    return invalidFormatOf(path);
}

bool fail(const QString& text)
{
    msg::show(text, msg::Icon::None, msg::Buttons::Ok);
    return false;
}

} // namespace

QString invalidFormatOf(const QString& path)
{
    return kInvalidFormat + QStringLiteral(": ") + quoted(path);
}

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
        return fail(invalidFormatOf(path));
    }

    cDIBSection loaded;
    if (jpeg::looksLikeJpeg(data)) {
        const jpeg::Outcome outcome = jpeg::decode(data, loaded);
        if (!outcome.ok()) {
            return fail(jpegMessage(path, outcome));
        }
    } else {
        QBuffer device(&data);
        device.open(QIODevice::ReadOnly);
        // The content decides; the name's extension only where the content does not tell.
        QImageReader reader(&device, pictureFormat(device, path));
        prepareReader(reader);
        const QSize size = reader.size();
        if (tooManyPixels(size)) {
            return fail(tooLarge(path, size));
        }
        const QImage image = reader.read();
        if (image.isNull()) {
            // A picture that Qt could have read but for its size is reported as such.
            const qint64 bytes = qint64(size.width()) * size.height() * 4;
            return fail(size.isValid() && bytes > qint64(kAllocationLimitMb) * 1024 * 1024 ? tooLarge(path, size)
                                                                                           : invalidFormatOf(path));
        }
        if (!loaded.fromImage(image)) {
            return fail(tooLarge(path, image.size()));
        }
    }
    // Every picture imported is written as a JPEG file, which cannot be wider or higher than this.
    if (loaded.Width() > kMaxJpegSide || loaded.Height() > kMaxJpegSide) {
        return fail(invalidFormatOf(path) +
                    QStringLiteral("\rL'immagine misura %1 x %2 pixel: un file JPEG non può superare %3 pixel di "
                                   "larghezza né di altezza.")
                        .arg(loaded.Width())
                        .arg(loaded.Height())
                        .arg(kMaxJpegSide));
    }
    buffer = std::move(loaded);
    return true;
}

} // namespace pictures
