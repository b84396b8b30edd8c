#include "pictures/JpegCodec.h"

#include "app/Messages.h"
#include "pictures/JpegDecoder.h"
#include "pictures/PictureFiles.h"
#include "pictures/cDIBSection.h"
#include "store/DbError.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>

namespace pictures {
namespace {

const QString kInitFailed = QStringLiteral("Failed to initialise the JPEG codec: ");

struct HandleDeleter {
    void operator()(void* handle) const
    {
        if (handle) {
            tjDestroy(handle);
        }
    }
};

struct OutputDeleter {
    void operator()(unsigned char* bytes) const { tjFree(bytes); }
};

void warn(const QString& text)
{
    msg::show(text, msg::Icon::Exclamation, msg::Buttons::Ok);
}

} // namespace

bool CaricaJpeg(cDIBSection& buffer, const QString& path)
{
    QByteArray data;
    if (readWholeFile(path, data) != ReadProblem::None) {
        warn(QStringLiteral("Failed to read JPG"));
        return false;
    }
    const jpeg::Outcome outcome = jpeg::decode(data, buffer);
    switch (outcome.failure) {
    case jpeg::Failure::None:
        return true;
    case jpeg::Failure::CodecInit:
        warn(kInitFailed + outcome.detail);
        return false;
    case jpeg::Failure::NotJpeg:
        warn(QStringLiteral("Failed to read JPG"));
        return false;
    case jpeg::Failure::Precision:
        warn(QStringLiteral("Failed to read JPG\rThe picture has more than 8 bits per sample, which cannot be read."));
        return false;
    case jpeg::Failure::Lossless:
        warn(QStringLiteral("Failed to read JPG\rThe picture is a lossless JPEG, which cannot be read."));
        return false;
    case jpeg::Failure::Arithmetic:
        warn(QStringLiteral("Failed to read JPG\rThe picture uses arithmetic coding, which cannot be read."));
        return false;
    case jpeg::Failure::TooLarge:
        return false; // no message: the caller reports that the file could not be loaded
    case jpeg::Failure::Damaged:
    case jpeg::Failure::TooMuchWork: // refused as a picture that cannot be read
        warn(QStringLiteral("Cannot read Image Data from file."));
        return false;
    }
    return false;
}

bool SalvaJpeg(cDIBSection& buffer, const QString& path, int quality)
{
    const std::unique_ptr<void, HandleDeleter> handle(tjInitCompress());
    if (!handle) {
        throw store::DbError(kErrJpegWrite, kInitFailed + QString::fromLocal8Bit(tjGetErrorStr2(nullptr)));
    }
    if (buffer.isEmpty()) {
        throw store::DbError(kErrJpegWrite, QStringLiteral("Failed to save to JPG -1: there is no picture"));
    }
    // Encoded whole into memory first, so that a codec failure never touches the file.
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int result =
        tjCompress2(handle.get(), buffer.DIBSectionBitsPtr(), buffer.Width(), buffer.BytesPerScanLine(),
                    buffer.Height(), TJPF_BGR, &out, &size, TJSAMP_420, std::clamp(quality, 1, 100), TJFLAG_BOTTOMUP);
    const std::unique_ptr<unsigned char, OutputDeleter> owned(out);
    if (result != 0 || !out) {
        throw store::DbError(kErrJpegWrite, QStringLiteral("Failed to save to JPG %1: %2")
                                                .arg(result)
                                                .arg(QString::fromLocal8Bit(tjGetErrorStr2(handle.get()))));
    }
    replaceFile(path, QByteArray::fromRawData(reinterpret_cast<const char*>(out), qsizetype(size)));
    return true;
}

} // namespace pictures
