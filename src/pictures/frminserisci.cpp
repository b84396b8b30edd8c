#include "pictures/frminserisci.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "pictures/FittedPicture.h"
#include "pictures/FolderFiles.h"
#include "pictures/ImageImport.h"
#include "pictures/JpegCodec.h"
#include "pictures/Photos.h"
#include "pictures/PictureFiles.h"
#include "pictures/PictureLoader.h"
#include "pictures/cDIBSection.h"
#include "pictures/frmpicture.h"
#include "store/DbError.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTreeView>

#include <algorithm>

namespace {

// The quality of every photo and plan the program writes.
constexpr int kQuality = 50;

// Error number of a drive that cannot be read (no disk in it, a network drive gone).
constexpr int kErrDeviceUnavailable = 68;

QString& lastFolder()
{
    static QString folder;
    return folder;
}

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


QString cleanFolder(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

} // namespace

frminserisci::frminserisci(QWidget* parent, std::function<void()> planImported)
    : QDialog(parent), m_planImported(std::move(planImported))
{
    setObjectName(QStringLiteral("frminserisci"));
    setWindowTitle(QStringLiteral("Inserisci Immagine"));
    setModal(true);
    buildControls();
    fillDrives();
    setFolder(startFolder());
}

frminserisci::~frminserisci()
{
    // The next dialog of the run starts where this one was left.
    lastFolder() = m_folder;
}

void frminserisci::buildControls()
{
    // The drive list and the file list on the left; the folder list, the preview and the buttons
    // on the right.
    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(12, 16, 250, 26);

    m_files = new QFileSystemModel(this);
    m_files->setObjectName(QStringLiteral("File1Model"));
    m_files->setFilter(QDir::Files);
    m_files->setNameFilters(pictureFilePatterns());
    m_files->setNameFilterDisables(false); // files of other kinds are not listed at all
    m_files->setReadOnly(true);
    m_listed = new pictures::FolderFiles(m_files, this);
    File1 = new QListView(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setGeometry(12, 52, 250, 366);
    File1->setModel(m_listed);
    File1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    File1->setSelectionMode(QAbstractItemView::SingleSelection);

    m_folders = new QFileSystemModel(this);
    m_folders->setObjectName(QStringLiteral("Dir1Model"));
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_folders->setReadOnly(true);
    Dir1 = new QTreeView(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(276, 16, 312, 170);
    Dir1->setModel(m_folders);
    for (int column = 1; column < m_folders->columnCount(); ++column) {
        Dir1->hideColumn(column);
    }
    Dir1->setHeaderHidden(true);
    Dir1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Dir1->setSelectionMode(QAbstractItemView::SingleSelection);

    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setLineWidth(2);
    Picture1->setGeometry(276, 196, 312, 170);
    Image1 = new QLabel(Picture1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 153, 129);
    Image1->hide();
    m_previewLoader = new pictures::PictureLoader(this);

    Command1[0] = pictures::boldButton(this, QStringLiteral("Command1_0"), QStringLiteral("Inserisci"), QRect(392, 378, 90, 36));
    Command1[1] = pictures::boldButton(this, QStringLiteral("Command1_1"), QStringLiteral("Annulla"), QRect(498, 378, 90, 36));
    Command1[0]->setDefault(true);
    setFixedSize(600, 430);
    setTabOrder(Drive1, File1);
    setTabOrder(File1, Dir1);
    setTabOrder(Dir1, Command1[0]);
    setTabOrder(Command1[0], Command1[1]);

    guard::connect(Drive1, &QComboBox::activated, this, [this] { Drive1_Change(); });
    guard::connect(Dir1->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { Dir1_Change(); });
    // Moving through the files with the keys previews each one quietly; a click says why a file
    // cannot be previewed.
    guard::connect(File1->selectionModel(), &QItemSelectionModel::currentChanged, this,
                   [this] { currentFileChanged(); });
    guard::connect(File1, &QListView::clicked, this, [this] { File1_Click(); });
    connect(m_previewLoader, &pictures::PictureLoader::loaded, this,
            [this](const QString& path, const pictures::DisplayPicture& read) {
                guard::run([&] { showPreview(path, read); });
            });
    // The folder list reads folders as it goes and sorts them as they come: the folder listed is
    // shown again as they move, until the user opens or scrolls the list to look elsewhere.
    connect(m_folders, &QFileSystemModel::directoryLoaded, this, [this] { showFolderInTree(); });
    connect(m_folders, &QAbstractItemModel::layoutChanged, this, [this] { showFolderInTree(); });
    connect(m_folders, &QAbstractItemModel::rowsInserted, this, [this] { showFolderInTree(); });
    for (const auto opened : {&QTreeView::expanded, &QTreeView::collapsed}) {
        connect(Dir1, opened, this, [this] { m_followTree = m_followTree && m_showingFolder; });
    }
    connect(Dir1->verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { m_followTree = false; });
    guard::connect(Command1[0], &QPushButton::clicked, this, [this] { Command1_Click(0); });
    guard::connect(Command1[1], &QPushButton::clicked, this, [this] { Command1_Click(1); });
}

void frminserisci::showModal(QWidget* parent, std::function<void()> planImported)
{
    {
        frminserisci dialog(parent, std::move(planImported));
        dialog.exec();
    }
    // The viewer hid itself for the import; after "Annulla" it comes back as it was.
    if (frmpicture* viewer = frmpicture::openViewer(); viewer && viewer->isHidden()) {
        viewer->show();
    }
}

QStringList frminserisci::pictureFilePatterns()
{
    // JPEG files are read by the program's own decoder; the other kinds by Qt's plug-ins, when
    // they are installed.
    QStringList patterns{QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")};
    const QList<QByteArray> readable = QImageReader::supportedImageFormats();
    for (const char* format : {"png", "bmp", "gif", "tif", "tiff", "webp"}) {
        if (readable.contains(QByteArray(format))) {
            patterns << QStringLiteral("*.") + QString::fromLatin1(format);
        }
    }
    return patterns;
}

QString frminserisci::startFolder()
{
    if (!lastFolder().isEmpty() && QFileInfo(lastFolder()).isDir()) {
        return lastFolder();
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir()) {
        return pictures;
    }
    return QDir::homePath();
}

void frminserisci::forgetLastFolder()
{
    lastFolder().clear();
}

// ---------------------------------------------------------------- drives, folders and files

void frminserisci::fillDrives()
{
    QList<QStorageInfo> volumes;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        // Only volumes that hold folders (a file mounted on its own is no drive).
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir()) {
            volumes << volume;
        }
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const QStorageInfo& a, const QStorageInfo& b) { return a.rootPath() < b.rootPath(); });
    Drive1->clear();
    for (const QStorageInfo& volume : volumes) {
        const QString root = volume.rootPath();
        const QString name = volume.displayName();
        Drive1->addItem(name.isEmpty() || name == root ? root : root + QStringLiteral("  [") + name + QLatin1Char(']'),
                        root);
    }
}

void frminserisci::showDrive(const QString& folder)
{
    const QString root = QStorageInfo(folder).rootPath();
    if (root.isEmpty()) {
        return;
    }
    int row = Drive1->findData(root);
    if (row < 0) {
        Drive1->addItem(root, root);
        row = Drive1->count() - 1;
    }
    Drive1->setCurrentIndex(row);
}

void frminserisci::setFolder(const QString& folder)
{
    const QString clean = cleanFolder(folder);
    showDrive(clean);
    const QString root = Drive1->currentData().toString();
    if (!root.isEmpty() && m_folders->rootPath() != root) {
        m_folders->setRootPath(root);
        Dir1->setRootIndex(m_folders->index(root));
    }
    // Listed, and shown in the folder list, even when the folder list cannot show it (a hidden
    // folder).
    showFiles(clean);
    m_followTree = true;
    showFolderInTree();
}

void frminserisci::showFolderInTree()
{
    // Once the model's signals have all been handled, and once for many of them.
    if (m_treeFollowPending || !m_followTree) {
        return;
    }
    m_treeFollowPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_treeFollowPending = false;
            const QModelIndex shown = m_folders->index(m_folder);
            if (!m_followTree || !shown.isValid()) {
                return;
            }
            m_showingFolder = true;
            if (Dir1->currentIndex() != shown) {
                Dir1->setCurrentIndex(shown); // Dir1_Change: the same folder, nothing to list again
            }
            Dir1->scrollTo(shown); // opens the folders it is in
            m_showingFolder = false;
        },
        Qt::QueuedConnection);
}

void frminserisci::showFiles(const QString& folder)
{
    if (folder == m_folder) {
        return;
    }
    m_folder = folder;
    m_listed->setFolder(folder);
    File1->setCurrentIndex(QModelIndex());
    File1->clearSelection();
    Image1->hide();
    Image1->clear();
    m_previewLoader->cancel();
    m_previewed.clear();
    m_preview = Preview::None;
}

void frminserisci::Drive1_Change()
{
    const QString root = Drive1->currentData().toString();
    if (root.isEmpty() || root == QStorageInfo(m_folder).rootPath()) {
        return;
    }
    const QStorageInfo volume(root);
    if (!volume.isValid() || !volume.isReady() || !QDir(root).isReadable()) {
        // Nothing changes: the drive list goes back to the drive of the folder shown.
        showDrive(m_folder);
        throw store::DbError(kErrDeviceUnavailable, QStringLiteral("Unità non disponibile: ") + root);
    }
    setFolder(root);
}

void frminserisci::Dir1_Change()
{
    const QModelIndex current = Dir1->currentIndex();
    if (!current.isValid()) {
        return;
    }
    showFiles(cleanFolder(m_folders->filePath(current)));
    // Chosen in the folder list: kept in view there as the folders around it are read.
    m_followTree = true;
}

QString frminserisci::fileName() const
{
    const QModelIndex current = File1->currentIndex();
    if (!current.isValid() || !File1->selectionModel()->isSelected(current)) {
        return {};
    }
    return m_listed->fileName(current);
}

// ---------------------------------------------------------------- preview

void frminserisci::preview(const QString& path, bool tell)
{
    m_previewed = path;
    m_preview = Preview::Reading;
    m_tellWhyNot = tell;
    Image1->hide();
    Image1->clear();
    m_previewLoader->request(path, Picture1->contentsRect().size());
}

void frminserisci::showPreview(const QString& path, const pictures::DisplayPicture& read)
{
    if (path != m_previewed) {
        return;
    }
    m_preview = pictures::showFitted(Image1, Picture1, read) ? Preview::Shown : Preview::Unreadable;
    if (m_preview == Preview::Unreadable && m_tellWhyNot) {
        reportUnpreviewable(path);
    }
}

void frminserisci::reportUnpreviewable(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        msg::show(QStringLiteral("Il file %1 non esiste.").arg(quoted(path)));
        return;
    }
    msg::show(pictures::invalidFormatOf(path));
}

void frminserisci::currentFileChanged()
{
    const QString name = fileName();
    if (name.isEmpty()) {
        return;
    }
    preview(QDir(m_folder).filePath(name), false);
}

void frminserisci::File1_Click()
{
    const QString name = fileName();
    if (name.isEmpty()) {
        return;
    }
    const QString path = QDir(m_folder).filePath(name);
    // The click that made the file current has already asked for its preview: a file that cannot
    // be shown is reported once that is known.
    if (path != m_previewed) {
        preview(path, true);
    } else if (m_preview == Preview::Reading) {
        m_tellWhyNot = true;
    } else if (m_preview == Preview::Unreadable) {
        reportUnpreviewable(path);
    }
}

// ---------------------------------------------------------------- the buttons

void frminserisci::Command1_Click(int index)
{
    if (index == 0) {
        importPicture();
    } else if (index == 1) {
        reject();
    }
}

QString frminserisci::target() const
{
    if (!Modulo1::ImportaFoto) {
        const QString plan = pictures::planFile(Modulo1::CartellaArchivio, Modulo1::FileArchivio);
        if (plan.isEmpty()) {
            msg::show(QStringLiteral("Nessun archivio aperto: la piantina non può essere inserita."),
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
    return pictures::photoFile(Modulo1::IdLibroCorrente);
}

void frminserisci::writePicture(const QString& destination)
{
    try {
        pictures::SalvaJpeg(*m_buffer, destination, kQuality);
    } catch (const store::DbError& e) {
        if (e.number() != pictures::kErrJpegWrite) {
            throw; // the file's own errors name it already, in Italian
        }
        // The codec's words alone are English and name no file.
        throw store::DbError(e.number(),
                             QStringLiteral("Impossibile salvare l'immagine nel file %1: il codificatore JPEG non è "
                                            "riuscito a scriverla (%2).")
                                 .arg(quoted(destination), e.description()));
    }
}

void frminserisci::importPicture()
{
    const QString name = fileName();
    if (name.isEmpty()) {
        msg::show(QStringLiteral("Scegliere nell'elenco il file dell'immagine da inserire."), msg::Icon::Information);
        return;
    }
    const QString source = QDir(m_folder).filePath(name);
    const bool photo = Modulo1::ImportaFoto;
    const QString destination = target();
    if (destination.isEmpty()) {
        return;
    }
    {
        // Any error from here on is reported by the guard once the pointer is normal again; the
        // photo or plan in place stays as it was until the new one is complete.
        const BusyPointer busy;
        if (photo && !QFileInfo(pictures::photoFolder()).isDir()) {
            pictures::ensureFolder(pictures::photoFolder());
        }
        if (!m_buffer) {
            m_buffer = std::make_unique<pictures::cDIBSection>();
        }
        // A picture that cannot be read has been reported, once, by the reader.
        if (!pictures::CaricaImmagine(*m_buffer, source)) {
            return;
        }
        writePicture(destination);
    }
    if (photo) {
        frmpicture::CercaFotoSeAperta();
        accept();
        frmpicture::showViewer(parentWidget());
    } else if (m_planImported) {
        m_planImported();
    }
}
