#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QFileSystemModel;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTreeView;

namespace pictures {
class cDIBSection;
class FolderFiles;
class PictureLoader;
struct DisplayPicture;
} // namespace pictures

// The image import dialog "Inserisci Immagine": the user picks a picture file with the path box,
// the places (home, pictures, drives), the folder and the file lists, sees it in the preview, and
// "Inserisci" stores it as a JPEG file (pictures::storePicture): the photo of the current book
// (Modulo1::IdLibroCorrente) when Modulo1::ImportaFoto is set, otherwise the floor plan of the
// open archive. Any picture Qt reads can be imported (see CaricaImmagine).
//
// A photo import closes the dialog and shows the photo viewer with the new photo; after a plan
// import the dialog stays open. Whatever fails is reported once and leaves the dialog open and the
// existing photo or plan as it was.
class frminserisci : public QDialog {
    Q_OBJECT
  public:
    // `planImported` runs after a floor plan has been written, so that the window that shows the
    // plan shows the new one.
    explicit frminserisci(QWidget* parent = nullptr, std::function<void()> planImported = {});
    ~frminserisci() override;

    // Runs the dialog modally over `parent`. The photo viewer, which hides itself while its
    // "Inserisci" runs the dialog, is shown again however the dialog ends.
    static void showModal(QWidget* parent, std::function<void()> planImported);

    // The name patterns of the files offered: JPEG always, and PNG, BMP, GIF, TIFF and WebP as
    // far as Qt's image plug-ins read them here.
    static QStringList pictureFilePatterns();
    // The folder the next dialog starts in: the last one shown by a dialog, in this run or an
    // earlier one (kept with QSettings), or the nearest folder above it that is left when it is
    // gone; with none, the user's pictures folder when there is one, or else the home folder.
    static QString startFolder();
    // Forgets the last folder shown (a new start; tests).
    static void forgetLastFolder();

    // The folder whose picture files File1 lists; the drive and folder lists follow it.
    void setFolder(const QString& folder);
    QString folder() const { return m_folder; }
    // The name of the file chosen in File1, without its folder; empty when none is.
    QString fileName() const;

    // The folder or picture file typed or pasted in the path box: its folder listed, the file
    // chosen. A path that is not there, or a file the program cannot insert, is told and changes
    // nothing. False when refused.
    bool goTo(const QString& typed);
    // The places offered, as folders.
    QStringList places() const;

    void TxtPercorso_KeyPress();    // Enter in the path box
    void Drive1_Change();           // a place chosen: its folder
    void Dir1_Change();             // a folder chosen: its picture files
    void File1_Click();             // a file clicked: its preview, or why there is none
    void Command1_Click(int index); // 0 "Inserisci", 1 "Annulla"

    QLineEdit* TxtPercorso; // the path box
    QComboBox* Drive1;      // the places
    QTreeView* Dir1;
    QListView* File1;
    QFrame* Picture1; // the preview frame
    QLabel* Image1;   // the preview, inside the frame
    std::array<QPushButton*, 2> Command1{};

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void fillDrives();
    // Shows the place that holds `folder` in Drive1, adding its drive when it is not listed.
    void showDrive(const QString& folder);
    void showFiles(const QString& folder);
    // Asks for the preview of `path`, read on a thread of its own (the last file asked for is the
    // one shown); with `tell`, a file that cannot be shown is reported once that is known.
    void preview(const QString& path, bool tell);
    void showPreview(const QString& path, const pictures::DisplayPicture& read);
    void reportUnpreviewable(const QString& path);
    // Has the folder list show the folder listed: its entry current, opened down to it, in view.
    void showFolderInTree();
    void currentFileChanged();
    // Chooses the file named in the path box once the file list lists it.
    void chooseNamedFile();
    void importPicture();

    std::function<void()> m_planImported;
    class FolderNames;
    QFileSystemModel* m_folders;
    FolderNames* m_folderNames; // what Dir1 shows of m_folders
    QFileSystemModel* m_files;
    pictures::FolderFiles* m_listed; // the files of the folder listed, as File1 shows them
    QString m_folder;
    QString m_namedFile; // named in the path box, to be chosen once listed
    bool m_treeFollowPending = false;
    bool m_followTree = true;     // the folder list keeps the folder listed in view
    bool m_showingFolder = false; // the folder list is being moved to it
    pictures::PictureLoader* m_previewLoader;
    QString m_previewed; // the file the preview was last asked to show
    enum class Preview { None, Reading, Shown, Unreadable };
    Preview m_preview = Preview::None;
    bool m_tellWhyNot = false; // a click asked for the preview: say why the file cannot be shown
    // The picture read by the last import; made at the first one and kept while the dialog lives.
    std::unique_ptr<pictures::cDIBSection> m_buffer;
};
