#include "pictures/PictureImport.h"

#include "app/Messages.h"
#include "app/Modulo1.h"
#include "pictures/ImageImport.h"
#include "pictures/JpegCodec.h"
#include "pictures/Photos.h"
#include "pictures/PictureFiles.h"
#include "pictures/cDIBSection.h"
#include "store/DbError.h"
#include "store/Server.h"

#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>

namespace pictures {
namespace {

// The quality of every photo and plan the program writes.
constexpr int kQuality = 50;

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

// The busy pointer while a picture is read and written; messages lift it (see msg::show).
class BusyPointer {
  public:
    BusyPointer() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyPointer() { QGuiApplication::restoreOverrideCursor(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

bool onServer()
{
    return store::server::isAddress(Modulo1::PercorsoArchivio);
}

// Why a picture of an archive on a server has nowhere to go.
QString noSharedFolder(const QString& what)
{
    return QStringLiteral("Le immagini di un archivio sul server stanno nella cartella condivisa indicata nelle "
                          "impostazioni del programma (gruppo Server, voce CartellaImmagini), che non è indicata o "
                          "non si raggiunge da questo computer: %1 non può essere inserita.")
        .arg(what);
}

// Where the picture goes, or empty (the user has been told why) when it cannot go anywhere.
QString destinationOf(ImportTarget target)
{
    if (target == ImportTarget::Plan) {
        const QString plan = planOfOpenArchive();
        if (plan.isEmpty()) {
            msg::show(onServer() ? noSharedFolder(QStringLiteral("la piantina"))
                                 : QStringLiteral("Nessun archivio aperto: la piantina non può essere inserita."),
                      msg::Icon::Information);
        }
        return plan;
    }
    if (Modulo1::IdLibroCorrente <= 0) {
        msg::show(QStringLiteral("Nessun libro scelto: scegliere nella finestra Biblioteca il libro a cui "
                                 "inserire la foto."),
                  msg::Icon::Information);
        return {};
    }
    // The current book is still the one shown before "Nuovo": its photo must not be replaced.
    if (Modulo1::NuovoRecord) {
        msg::show(QStringLiteral("Il nuovo libro non è ancora salvato: premere Salva prima di inserirne la foto."),
                  msg::Icon::Information);
        return {};
    }
    const QString photo = photoFile(Modulo1::IdLibroCorrente);
    if (photo.isEmpty()) {
        msg::show(noSharedFolder(QStringLiteral("la foto")), msg::Icon::Information);
    }
    return photo;
}

// Writes the picture read as `destination`; a failure of the codec is told in Italian, naming the
// file.
void writePicture(cDIBSection& buffer, const QString& destination)
{
    try {
        SalvaJpeg(buffer, destination, kQuality);
    } catch (const store::DbError& e) {
        if (e.number() != kErrJpegWrite) {
            throw; // the file's own errors name it already, in Italian
        }
        // The codec's words alone are English and name no file.
        throw store::DbError(e.number(),
                             QStringLiteral("Impossibile salvare l'immagine nel file %1: il codificatore JPEG non è "
                                            "riuscito a scriverla (%2).")
                                 .arg(quoted(destination), e.description()));
    }
}

} // namespace

bool storePicture(const QString& source, ImportTarget target, std::unique_ptr<cDIBSection>& buffer)
{
    const QString destination = destinationOf(target);
    if (destination.isEmpty()) {
        return false;
    }
    // Any error from here on is reported by the guard once the pointer is normal again; the photo
    // or plan in place stays as it was until the new one is complete.
    const BusyPointer busy;
    if (target == ImportTarget::Photo && !QFileInfo(photoFolder()).isDir()) {
        ensureFolder(photoFolder());
    }
    if (!buffer) {
        buffer = std::make_unique<cDIBSection>();
    }
    // A picture that cannot be read has been reported, once, by the reader.
    if (!CaricaImmagine(*buffer, source)) {
        return false;
    }
    writePicture(*buffer, destination);
    return true;
}

} // namespace pictures
