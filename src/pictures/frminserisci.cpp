#include "pictures/frminserisci.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Paths.h"
#include "app/Modulo1.h"
#include "pictures/FittedPicture.h"
#include "pictures/FolderFiles.h"
#include "pictures/ImageImport.h"
#include "pictures/PictureImport.h"
#include "pictures/PictureLoader.h"
#include "pictures/Places.h"
#include "pictures/cDIBSection.h"
#include "pictures/frmpicture.h"
#include "store/DbError.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTreeView>

#include <algorithm>

namespace {

// Error number of a drive that cannot be read (no disk in it, a network drive gone).
constexpr int kErrDeviceUnavailable = 68;

// Where the folder last shown is kept between runs.
const QString kLastFolderKey = QStringLiteral("InserisciImmagine/Cartella");

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

} // namespace

// The first column of the file system model, the folders' names.
class frminserisci::FolderNames : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool filterAcceptsColumn(int column, const QModelIndex&) const override { return column == 0; }
};

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
    // The next dialog, in this run or the next one, starts where this one was left.
    if (!m_folder.isEmpty()) {
        paths::settings()->setValue(kLastFolderKey, m_folder);
    }
}

void frminserisci::buildControls()
{
    // The path box across the top; the places, the folder list and the file list on the left, in
    // the order they are read and reached with Tab; the preview and the buttons on the right.
    auto* pathLabel = new QLabel(QStringLiteral("&Percorso:"), this);
    pathLabel->setObjectName(QStringLiteral("LblPercorso"));
    pathLabel->setGeometry(12, 16, 70, 26);
    TxtPercorso = new QLineEdit(this);
    TxtPercorso->setObjectName(QStringLiteral("TxtPercorso"));
    TxtPercorso->setGeometry(84, 16, 504, 26);
    TxtPercorso->setAccessibleName(QStringLiteral("Percorso"));
    TxtPercorso->setAccessibleDescription(
        QStringLiteral("Scrivere o incollare una cartella o un file e premere Invio per andarci"));
    pathLabel->setBuddy(TxtPercorso);

    auto* placesLabel = new QLabel(QStringLiteral("&Luoghi:"), this);
    placesLabel->setObjectName(QStringLiteral("LblLuoghi"));
    placesLabel->setGeometry(12, 52, 70, 26);
    Drive1 = new QComboBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setGeometry(84, 52, 178, 26);
    placesLabel->setBuddy(Drive1);
    Drive1->setAccessibleName(QStringLiteral("Luoghi"));
    Drive1->setToolTip(QStringLiteral("Luoghi: cartella personale, immagini, unità e dischi"));

    m_files = new QFileSystemModel(this);
    m_files->setObjectName(QStringLiteral("File1Model"));
    m_files->setFilter(QDir::Files);
    m_files->setNameFilters(pictureFilePatterns());
    m_files->setNameFilterDisables(false); // files of other kinds are not listed at all
    m_files->setReadOnly(true);
    m_listed = new pictures::FolderFiles(m_files, this);
    File1 = new QListView(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setGeometry(12, 268, 250, 190);
    File1->setAccessibleName(QStringLiteral("File"));
    File1->setModel(m_listed);
    File1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    File1->setSelectionMode(QAbstractItemView::SingleSelection);

    m_folders = new QFileSystemModel(this);
    m_folders->setObjectName(QStringLiteral("Dir1Model"));
    m_folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_folders->setReadOnly(true);
    Dir1 = new QTreeView(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setGeometry(12, 88, 250, 170);
    Dir1->setAccessibleName(QStringLiteral("Cartelle"));
    // The names of the folders alone: columns hidden in the view (size, kind, date) would still be
    // read out to screen readers as items of their own.
    m_folderNames = new FolderNames(this);
    m_folderNames->setSourceModel(m_folders);
    Dir1->setModel(m_folderNames);
    Dir1->setHeaderHidden(true);
    Dir1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Dir1->setSelectionMode(QAbstractItemView::SingleSelection);

    Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture1->setLineWidth(2);
    Picture1->setGeometry(276, 52, 312, 350);
    Picture1->setAccessibleName(QStringLiteral("Anteprima"));
    Image1 = new QLabel(Picture1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setAccessibleName(QStringLiteral("Anteprima dell'immagine scelta"));
    Image1->setGeometry(8, 8, 153, 129);
    Image1->hide();
    m_previewLoader = new pictures::PictureLoader(this);

    Command1[0] =
        pictures::boldButton(this, QStringLiteral("Command1_0"), QStringLiteral("Inserisci"), QRect(392, 418, 90, 36));
    Command1[1] =
        pictures::boldButton(this, QStringLiteral("Command1_1"), QStringLiteral("Annulla"), QRect(498, 418, 90, 36));
    Command1[0]->setDefault(true);
    setFixedSize(600, 470);
    setTabOrder(TxtPercorso, Drive1);
    setTabOrder(Drive1, Dir1);
    setTabOrder(Dir1, File1);
    setTabOrder(File1, Command1[0]);
    setTabOrder(Command1[0], Command1[1]);

    // Enter in the path box goes there; it does not press "Inserisci".
    TxtPercorso->installEventFilter(this);

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
    // A file named in the path box is chosen once the file list has read it.
    connect(m_listed, &QAbstractItemModel::rowsInserted, this, [this] { chooseNamedFile(); });
    connect(m_listed, &QAbstractItemModel::layoutChanged, this, [this] { chooseNamedFile(); });
    connect(m_listed, &QAbstractItemModel::modelReset, this, [this] { chooseNamedFile(); });
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
    const QString last = paths::settings()->value(kLastFolderKey).toString();
    if (!last.isEmpty()) {
        // A folder deleted since, or on a drive taken away: the nearest one above it that is left.
        const QString folder = pictures::existingFolderAt(last);
        const bool gone = folder != pictures::cleanFolder(last);
        return folder.isEmpty() || (gone && QFileInfo(folder).isRoot()) ? QDir::homePath() : folder;
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir()) {
        return pictures;
    }
    return QDir::homePath();
}

void frminserisci::forgetLastFolder()
{
    paths::settings()->remove(kLastFolderKey);
}

// ---------------------------------------------------------------- drives, folders and files

void frminserisci::fillDrives()
{
    Drive1->clear();
    for (const pictures::Place& place : pictures::places()) {
        Drive1->addItem(place.name, place.folder);
    }
}

QStringList frminserisci::places() const
{
    QStringList paths;
    for (int row = 0; row < Drive1->count(); ++row) {
        paths << Drive1->itemData(row).toString();
    }
    return paths;
}

void frminserisci::showDrive(const QString& folder)
{
    // The place the folder is in: the nearest one, so a folder of the home folder shows "Cartella
    // personale" rather than the disk it is on.
    int best = -1;
    qsizetype bestLength = -1;
    for (int row = 0; row < Drive1->count(); ++row) {
        const QString place = Drive1->itemData(row).toString();
        const bool inside = folder == place || place == QStringLiteral("/") ||
                            folder.startsWith(place.endsWith(QLatin1Char('/')) ? place : place + QLatin1Char('/'));
        if (inside && place.size() > bestLength) {
            best = row;
            bestLength = place.size();
        }
    }
    if (best < 0) {
        const QString root = QStorageInfo(folder).rootPath();
        if (root.isEmpty()) {
            return;
        }
        Drive1->addItem(root, root);
        best = Drive1->count() - 1;
    }
    Drive1->setCurrentIndex(best);
}

void frminserisci::setFolder(const QString& folder)
{
    const QString clean = pictures::cleanFolder(folder);
    showDrive(clean);
    const QString root = QStorageInfo(clean).rootPath();
    if (!root.isEmpty() && m_folders->rootPath() != root) {
        m_folders->setRootPath(root);
        Dir1->setRootIndex(m_folderNames->mapFromSource(m_folders->index(root)));
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
            const QModelIndex shown = m_folderNames->mapFromSource(m_folders->index(m_folder));
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
    TxtPercorso->setText(QDir::toNativeSeparators(folder));
    m_namedFile.clear();
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
    const QString place = Drive1->currentData().toString();
    if (place.isEmpty() || place == m_folder) {
        return;
    }
    const QStorageInfo volume(place);
    if (!QFileInfo(place).isDir() || !volume.isValid() || !volume.isReady() || !QDir(place).isReadable()) {
        // Nothing changes: the list of places goes back to the place of the folder shown.
        showDrive(m_folder);
        throw store::DbError(kErrDeviceUnavailable, QStringLiteral("Unità non disponibile: ") + place);
    }
    setFolder(place);
}

void frminserisci::TxtPercorso_KeyPress()
{
    goTo(TxtPercorso->text());
}

bool frminserisci::goTo(const QString& typed)
{
    const QString path = pictures::typedPath(typed);
    if (path.isEmpty()) {
        return false;
    }
    // A relative path starts from the folder shown.
    const QFileInfo info(QDir(m_folder).absoluteFilePath(path));
    const QString shown = QDir::toNativeSeparators(path);
    if (info.isDir()) {
        if (!info.isReadable() || !QDir(info.absoluteFilePath()).isReadable()) {
            msg::show(QStringLiteral("La cartella %1 non può essere letta.").arg(quoted(shown)),
                      msg::Icon::Information);
            return false;
        }
        setFolder(info.absoluteFilePath());
        return true;
    }
    if (!info.exists()) {
        msg::show(QStringLiteral("La cartella o il file %1 non esiste.").arg(quoted(shown)), msg::Icon::Information);
        return false;
    }
    if (!info.isFile() || !QDir::match(pictureFilePatterns(), info.fileName())) {
        msg::show(QStringLiteral("Il file %1 non è un'immagine che il programma sa inserire.").arg(quoted(shown)),
                  msg::Icon::Information);
        return false;
    }
    // The file list leaves hidden files out: such a file could not be chosen there.
    if (info.isHidden()) {
        msg::show(QStringLiteral("Il file %1 è nascosto: l'elenco dei file non lo mostra.").arg(quoted(shown)),
                  msg::Icon::Information);
        return false;
    }
    setFolder(info.absolutePath());
    m_namedFile = info.fileName();
    chooseNamedFile();
    return true;
}

void frminserisci::chooseNamedFile()
{
    if (m_namedFile.isEmpty()) {
        return;
    }
    for (int row = 0; row < m_listed->rowCount(); ++row) {
        const QModelIndex index = m_listed->index(row, 0);
        if (m_listed->fileName(index) == m_namedFile) {
            m_namedFile.clear();
            File1->setCurrentIndex(index); // chosen, and previewed as the arrow keys do
            File1->scrollTo(index);
            return;
        }
    }
}

bool frminserisci::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == TxtPercorso && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            guard::run([this] { TxtPercorso_KeyPress(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frminserisci::Dir1_Change()
{
    const QModelIndex current = Dir1->currentIndex();
    if (!current.isValid()) {
        return;
    }
    showFiles(pictures::cleanFolder(m_folders->filePath(m_folderNames->mapToSource(current))));
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

void frminserisci::importPicture()
{
    const QString name = fileName();
    if (name.isEmpty()) {
        msg::show(QStringLiteral("Scegliere nell'elenco il file dell'immagine da inserire."), msg::Icon::Information);
        return;
    }
    const bool photo = Modulo1::ImportaFoto;
    if (!pictures::storePicture(QDir(m_folder).filePath(name),
                                photo ? pictures::ImportTarget::Photo : pictures::ImportTarget::Plan, m_buffer)) {
        return;
    }
    if (photo) {
        frmpicture::CercaFotoSeAperta();
        accept();
        frmpicture::showViewer(parentWidget());
    } else if (m_planImported) {
        m_planImported();
    }
}
