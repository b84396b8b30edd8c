// Times the picture paths on photos of 1 and 12 megapixels made here (gradients and noise, as a
// camera's detail costs the codec):
//   carteo_bench_pictures [repeats=15]
// a. readForDisplay for the viewer's 193 × 193 frame, against a full decode of the same file
//    straight through the codec (the raw figure);
// b. importing a photo: CaricaImmagine, then SalvaJpeg with quality 50 to a file.
// Also the walk through the file's markers and scan headers that every JPEG decode starts with (the
// limits on the scans' work), on its own.
#include "BenchSupport.h"

#include "pictures/ImageImport.h"
#include "pictures/JpegCodec.h"
#include "pictures/JpegDecoder.h"
#include "pictures/PictureReader.h"
#include "pictures/cDIBSection.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr double kDisplayTargetMs = 40;  // 12 MP into the viewer's frame
constexpr double kImportTargetMs = 1000; // 12 MP read and written as a photo
const QSize kFrame(193, 193);

// A photo-like picture: broad gradients, a texture of middle frequencies (leaves, fabric,
// bricks) and grain of `grain` levels either way on every pixel, so that the decoder has real
// detail to work through. Grain 6 gives a file of the size a 12-megapixel camera writes (about
// 3 MB at quality 92); grain 24 is a worst case, far noisier than a camera's processed output.
QImage photo(int width, int height, int grain)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(12345);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int texture = int(18 * std::sin(x / 5.0 + std::sin(y / 23.0) * 3) * std::cos(y / 7.0));
            const int n = int(random.bounded(2 * grain + 1)) - grain + texture;
            line[x] = qRgb(qBound(0, x * 255 / width + n, 255), qBound(0, y * 255 / height + n, 255),
                           qBound(0, (x + y) * 255 / (width + height) - n, 255));
        }
    }
    return image;
}

QByteArray cameraJpeg(const QImage& image)
{
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    QByteArray bytes;
    if (tjCompress2(handle, image.constBits(), image.width(), int(image.bytesPerLine()), image.height(), format, &out,
                    &size, TJSAMP_420, 92, 0) == 0) {
        bytes = QByteArray(reinterpret_cast<const char*>(out), qsizetype(size));
    }
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

// The raw figure: the file read and decoded whole (or at `eighths` / 8 of its size), nothing else.
double rawDecodeMs(const QString& path, int eighths = 8)
{
    QElapsedTimer t;
    t.start();
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    const QByteArray data = file.readAll();
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(data.constData()),
                        static_cast<unsigned long>(data.size()), &w, &h, &subsampling, &colorspace);
    w = (w * eighths + 7) / 8;
    h = (h * eighths + 7) / 8;
    const int pitch = (w * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(size_t(pitch) * h);
    tjDecompress2(handle, reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<unsigned long>(data.size()), pixels.data(), w, pitch, h, TJPF_BGR, TJFLAG_BOTTOMUP);
    tjDestroy(handle);
    return msSince(t);
}

template <typename F> Stats timed(int repeats, F&& run)
{
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        run();
        ms.push_back(msSince(t));
    }
    return stats(ms);
}

struct Sample {
    const char* name;
    QSize size;
    int grain;
    bool judged; // the targets apply to this photo
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int repeats = argc > 1 ? std::max(3, QString::fromLocal8Bit(argv[1]).toInt()) : 15;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    linef(QStringLiteral("load average: %1; %2 repeats").arg(loadAverage()).arg(repeats));

    bool allPass = true;
    for (const Sample& sample : {Sample{"1 MP", QSize(1280, 800), 6, false}, Sample{"12 MP", QSize(4000, 3000), 6, true},
                                 Sample{"12 MP, worst-case grain", QSize(4000, 3000), 24, false}}) {
        const QString path = dir.filePath(
            QStringLiteral("%1x%2-%3.jpg").arg(sample.size.width()).arg(sample.size.height()).arg(sample.grain));
        const QByteArray jpeg = cameraJpeg(photo(sample.size.width(), sample.size.height(), sample.grain));
        QFile file(path);
        if (jpeg.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(jpeg) != jpeg.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        file.close();
        const bool twelve = sample.judged;

        QSize shownSize;
        const Stats display = timed(repeats, [&] { shownSize = pictures::readForDisplay(path, kFrame).image.size(); });
        const Stats raw = timed(repeats, [&] { rawDecodeMs(path); });
        const Stats rawEighth = timed(repeats, [&] { rawDecodeMs(path, 1); });
        int scans = 0;
        const Stats walk = timed(repeats, [&] { scans = pictures::jpeg::readMarkers(jpeg).scans; });
        const QString target = dir.filePath(QStringLiteral("17.jpg"));
        bool imported = true;
        const Stats import = timed(std::max(3, repeats / 3), [&] {
            pictures::cDIBSection buffer;
            imported = imported && pictures::CaricaImmagine(buffer, path) && pictures::SalvaJpeg(buffer, target, 50);
        });

        linef(QStringLiteral("%1 (%2 x %3, file %4 KB):")
                  .arg(QLatin1String(sample.name))
                  .arg(sample.size.width())
                  .arg(sample.size.height())
                  .arg(jpeg.size() / 1024));
        const bool displayPass = !twelve || display.median <= kDisplayTargetMs;
        linef(QStringLiteral("  readForDisplay 193x193   median %1 ms (p95 %2), image %3 x %4")
                  .arg(display.median, 0, 'f', 1)
                  .arg(display.p95, 0, 'f', 1)
                  .arg(shownSize.width())
                  .arg(shownSize.height()));
        linef(QStringLiteral("  raw full decode          median %1 ms; ratio %2; raw decode at 1/8: %3 ms%4")
                  .arg(raw.median, 0, 'f', 1)
                  .arg(display.median / raw.median, 0, 'f', 2)
                  .arg(rawEighth.median, 0, 'f', 1)
                  .arg(twelve ? QStringLiteral("; target <= %1 ms: %2")
                                    .arg(kDisplayTargetMs)
                                    .arg(displayPass ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
                              : QString()));
        linef(QStringLiteral("  markers and scan headers median %1 ms (%2 scan)").arg(walk.median, 0, 'f', 2).arg(scans));
        const bool importPass = imported && (!twelve || import.median <= kImportTargetMs);
        linef(QStringLiteral("  import + save quality 50 median %1 ms (p95 %2)%3%4")
                  .arg(import.median, 0, 'f', 1)
                  .arg(import.p95, 0, 'f', 1)
                  .arg(imported ? QString() : QStringLiteral(" FAILED TO IMPORT"))
                  .arg(twelve ? QStringLiteral("; target <= %1 ms: %2")
                                    .arg(kImportTargetMs)
                                    .arg(importPass ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
                              : QString()));
        allPass = allPass && displayPass && importPass;
    }
    return allPass ? 0 : 2;
}
