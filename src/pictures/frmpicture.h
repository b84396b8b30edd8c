#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QPushButton;

namespace pictures {
class cDIBSection;
class PictureLoader;
struct DisplayPicture;
} // namespace pictures

// The photo viewer "Foto – TITOLO": a small window in front of the others that shows the photo of
// the current book (Modulo1::IdLibroCorrente), titled with the book's title, and follows it as the
// windows change the current book. A book without a photo shows "Nessuna foto" beside
// "Inserisci". A picture file dropped on it from a file manager is stored as the book's photo as
// "Inserisci Immagine" stores it. At most one is open; Modulo1::FotoAperta is set while it is.
//
// It is a tool window of its own, not a child window of the frame: it stays in front of the
// program's windows, opens without taking the focus from the list being browsed, and goes with
// the window that owns it.
class frmpicture : public QWidget {
    Q_OBJECT
  public:
    explicit frmpicture(QWidget* owner = nullptr);
    ~frmpicture() override;

    // Opens the viewer in front of `owner`, or shows and raises the one already open.
    static frmpicture* showViewer(QWidget* owner);
    // The open viewer (perhaps hidden while a photo is imported); nullptr when it is closed.
    static frmpicture* openViewer();
    // What the windows call when the current book changes: the open viewer shows its photo; nothing
    // happens while the viewer is closed.
    static void CercaFotoSeAperta();

    // What "Inserisci" runs after setting Modulo1::ImportaFoto: the image import dialog, modally,
    // while the viewer is hidden. Until one is set "Inserisci" only sets the flag.
    static void setImportDialog(std::function<void()> showModally);

    // The size, in pixels, of the area inside the frame that a photo is fitted into; a card prints
    // the photo at half the size it is shown at here.
    static QSize photoAreaSize();

    // Places the window, sets FotoAperta and shows the current book's photo.
    void Form_Load();
    // Shows the photo of the current book fitted into the frame, or "Nessuna foto" in the frame
    // when the book has none ("Foto non leggibile" when its file cannot be read), and the book's
    // title in the caption. Never reports anything. The photo is read on a thread of its own
    // (photoLoader): the frame is empty until it has been read, and of the books shown in quick
    // succession only the last one's photo is read and shown.
    void CercaFoto();
    pictures::PictureLoader* photoLoader() const { return m_loader; }
    void Command1_Click(); // "Chiudi"
    void Command2_Click(); // "Inserisci"

    QFrame* Picture1;       // white frame
    QLabel* Image1;         // the photo, inside the frame
    QPushButton* Command2;  // "Inserisci"
    QPushButton* Command1;  // "Chiudi"
    QLabel* LblNessunaFoto; // "Nessuna foto", in the frame

    // The caption without a book's title.
    inline static const QString kCaption = QStringLiteral("Foto");

    // A picture file dropped on the viewer: the current book's photo, as "Inserisci Immagine"
    // stores it (the same checks and messages); the new photo is shown.
    void photoDropped(const QString& path);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void placeOnScreen();
    void Form_Unload();
    void showPhoto(const pictures::DisplayPicture& read);

    pictures::PictureLoader* m_loader;
    // The picture read by the last drop; made at the first one and kept while the viewer lives.
    std::unique_ptr<pictures::cDIBSection> m_buffer;
};
