#include "pictures/frmpicture.h"

#include "app/Guard.h"
#include "app/Modulo1.h"
#include "app/Twips.h"
#include "pictures/FittedPicture.h"
#include "pictures/Photos.h"
#include "pictures/PictureDrop.h"
#include "pictures/PictureImport.h"
#include "pictures/PictureLoader.h"
#include "pictures/cDIBSection.h"
#include "store/Archive.h"
#include "store/Catalogue.h"
#include "store/DbError.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <cmath>

namespace {

// The layout is designed in twips, 15 to a pixel.
using twips::pixels;

QRect twipsRect(int left, int top, int width, int height)
{
    return twips::rect(left, top, width, height);
}

constexpr int kFrameTwips = 2895;
constexpr int kFrameLine = 2;

// Where the viewer opens on the screen, and its size with its title bar and borders.
constexpr QPoint kScreenPosition(500, 20);
constexpr QSize kOuterSize(290, 230);

QPointer<frmpicture>& openOne()
{
    static QPointer<frmpicture> viewer;
    return viewer;
}

std::function<void()>& importDialog()
{
    static std::function<void()> open;
    return open;
}

// The title of the current book as the archive has it; empty when there is none or it cannot be
// read (the caption then says only "Foto").
QString currentTitle()
{
    if (Modulo1::IdLibroCorrente <= 0 || Modulo1::PercorsoArchivio.isEmpty()) {
        return {};
    }
    try {
        // A look-up of its own that holds no presence on the archive: the viewer never keeps a
        // repair or a compaction waiting.
        const auto archive = store::Archive::open(Modulo1::PercorsoArchivio, store::Archive::Presence::None);
        return store::catalogue::bookTitle(*archive, Modulo1::IdLibroCorrente).value_or(QString());
    } catch (const store::DbError&) {
        return {};
    }
}

} // namespace

frmpicture::frmpicture(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmpicture"));
    setWindowTitle(kCaption);
    setAttribute(Qt::WA_DeleteOnClose);
    // The user goes on browsing the list while the viewer follows it.
    setAttribute(Qt::WA_ShowWithoutActivating);

    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setLineWidth(kFrameLine);
    Picture1->setGeometry(twipsRect(120, 120, kFrameTwips, kFrameTwips));
    Picture1->setAutoFillBackground(true);
    QPalette white = Picture1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Picture1->setPalette(white);
    Image1 = new QLabel(Picture1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twipsRect(600, 600, 1575, 1455));
    Image1->setAccessibleName(QStringLiteral("Foto del libro"));
    Image1->hide();
    Picture1->setAccessibleName(QStringLiteral("Foto"));
    // Said in the frame when the book has none, with "Inserisci" beside it.
    LblNessunaFoto = new QLabel(Picture1);
    LblNessunaFoto->setObjectName(QStringLiteral("LblNessunaFoto"));
    LblNessunaFoto->setGeometry(Picture1->contentsRect());
    LblNessunaFoto->setAlignment(Qt::AlignCenter);
    LblNessunaFoto->setWordWrap(true);
    LblNessunaFoto->hide();

    Command2 = pictures::boldButton(this, QStringLiteral("Command2"), QStringLiteral("Inserisci"),
                                    twipsRect(3160, 240, 975, 375));
    Command1 = pictures::boldButton(this, QStringLiteral("Command1"), QStringLiteral("Chiudi"),
                                    twipsRect(3160, 2520, 975, 375));
    m_loader = new pictures::PictureLoader(this);
    connect(m_loader, &pictures::PictureLoader::loaded, this,
            [this](const QString&, const pictures::DisplayPicture& read) { guard::run([&] { showPhoto(read); }); });
    guard::connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    guard::connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    Command2->setAccessibleDescription(QStringLiteral("Inserisce la foto del libro da un file"));
    Command1->setAccessibleDescription(QStringLiteral("Chiude la finestra della foto"));
    // A picture dropped from a file manager becomes the book's photo.
    new pictures::PictureDrop(this, [this](const QString& path) { photoDropped(path); });
    resize(twipsRect(0, 0, 4350, 3120).size());
}

frmpicture::~frmpicture()
{
    // Closed with the window that owns it, without a close event.
    if (openOne() == this) {
        Form_Unload();
    }
}

frmpicture* frmpicture::showViewer(QWidget* owner)
{
    if (frmpicture* viewer = openViewer()) {
        viewer->show();
        viewer->raise();
        return viewer;
    }
    auto* viewer = new frmpicture(owner); // deleted when closed, or with its owner
    viewer->Form_Load();
    viewer->show();
    return viewer;
}

frmpicture* frmpicture::openViewer()
{
    return openOne().data();
}

void frmpicture::CercaFotoSeAperta()
{
    if (frmpicture* viewer = openViewer()) {
        viewer->CercaFoto();
    }
}

void frmpicture::setImportDialog(std::function<void()> showModally)
{
    importDialog() = std::move(showModally);
}

void frmpicture::Form_Load()
{
    placeOnScreen();
    openOne() = this;
    Modulo1::FotoAperta = true;
    CercaFoto();
}

void frmpicture::placeOnScreen()
{
    // The borders and title bar are known once the window manager has framed the window; until
    // then the window counts as having none.
    const QSize frame = frameGeometry().size() - geometry().size();
    resize(kOuterSize - frame);
    move(kScreenPosition);
}

void frmpicture::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (frameGeometry().size() != kOuterSize) {
        placeOnScreen();
    }
}

void frmpicture::CercaFoto()
{
    const QString title = currentTitle();
    setWindowTitle(title.isEmpty() ? kCaption : kCaption + QStringLiteral(" \u2013 ") + title);
    // The frame stays empty while the photo is read: never the photo of the book shown before.
    Image1->hide();
    Image1->clear();
    LblNessunaFoto->hide();
    m_loader->request(pictures::photoFile(Modulo1::IdLibroCorrente), Picture1->contentsRect().size());
}

void frmpicture::showPhoto(const pictures::DisplayPicture& read)
{
    // No photo, or one that cannot be read: said in the frame, and nothing else is reported.
    if (pictures::showFitted(Image1, Picture1, read)) {
        LblNessunaFoto->hide();
        return;
    }
    const bool none = !QFileInfo::exists(pictures::photoFile(Modulo1::IdLibroCorrente));
    LblNessunaFoto->setText(none ? QStringLiteral("Nessuna foto") : QStringLiteral("Foto non leggibile"));
    LblNessunaFoto->show();
}

void frmpicture::photoDropped(const QString& path)
{
    // As "Inserisci Immagine" stores a photo: the same checks, messages and file.
    if (pictures::storePicture(path, pictures::ImportTarget::Photo, m_buffer)) {
        CercaFoto();
    }
}

QSize frmpicture::photoAreaSize()
{
    const int side = pixels(kFrameTwips) - 2 * kFrameLine;
    return QSize(side, side);
}

void frmpicture::Command1_Click()
{
    close();
}

void frmpicture::Command2_Click()
{
    Modulo1::ImportaFoto = true;
    const std::function<void()> open = importDialog();
    if (!open) {
        return;
    }
    // The dialog shows the viewer again after a photo import.
    hide();
    try {
        open();
    } catch (...) {
        show();
        throw;
    }
}

void frmpicture::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmpicture::Form_Unload()
{
    if (openOne() == this) {
        openOne() = nullptr;
        Modulo1::FotoAperta = false;
    }
}
