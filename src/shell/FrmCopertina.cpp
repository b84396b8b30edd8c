#include "shell/FrmCopertina.h"

#include "app/Messages.h"
#include "app/Paths.h"
#include "app/Version.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QUrl>
#include <QtMath>

#include <cmath>

namespace {

constexpr QSize kWindowSize(520, 320);
// The oval reaches this far beyond each edge, so only the corners are cut away.
constexpr int kOvalMargin = 60;
constexpr int kTickMs = 1000;
// The splash leaves at the tick after the third.
constexpr int kLastQuietTick = 3;

const QColor kLinkLit(255, 255, 0);
const QColor kLinkDim(224, 224, 224);

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry, const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QFont scaledFont(const QFont& base, qreal points, bool bold = false, bool italic = false)
{
    QFont font = base;
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// One spine on the cover: width, height and colour.
struct Spine {
    int width;
    int height;
    QColor colour;
};

void drawSpine(QPainter& p, int x, int floor, const Spine& s)
{
    const QRect body(x, floor - s.height, s.width, s.height);
    // Lighter at the left edge and darker at the right, so the spine looks rounded.
    QLinearGradient shade(body.topLeft(), body.topRight());
    shade.setColorAt(0.0, s.colour.lighter(135));
    shade.setColorAt(0.45, s.colour);
    shade.setColorAt(1.0, s.colour.darker(160));
    p.fillRect(body, shade);
    const QColor gold(222, 184, 96);
    p.fillRect(QRect(x + 1, body.top() + 8, s.width - 2, 2), gold);
    p.fillRect(QRect(x + 1, body.bottom() - 10, s.width - 2, 2), gold);
    // A label for the title, on the wider spines.
    if (s.width >= 14) {
        p.fillRect(QRect(x + 3, body.top() + 18, s.width - 6, std::min(24, s.height / 4)), s.colour.darker(140));
    }
}

void drawShelf(QPainter& p, int floor, const std::initializer_list<Spine>& spines, int leanAfter)
{
    int x = 12;
    int index = 0;
    for (const Spine& spine : spines) {
        if (index++ == leanAfter) {
            // One book leans on its right neighbour, as on any real shelf.
            constexpr qreal lean = 14;
            p.save();
            p.translate(x, floor);
            p.rotate(lean);
            drawSpine(p, 0, 0, spine);
            p.restore();
            const qreal radians = qDegreesToRadians(lean);
            x += int(std::ceil(spine.width * std::cos(radians) + spine.height * std::sin(radians)));
            continue;
        }
        drawSpine(p, x, floor, spine);
        x += spine.width + 1;
    }
    QLinearGradient wood(0, floor, 0, floor + 9);
    wood.setColorAt(0.0, QColor(150, 100, 58));
    wood.setColorAt(1.0, QColor(92, 58, 32));
    p.fillRect(QRect(4, floor, 152, 9), wood);
}

// The program's cover: two shelves of books in a dark wooden case.
QPixmap coverPicture()
{
    QPixmap picture(160, 220);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0.5, 0.5, 159, 219), 8, 8);
    QLinearGradient back(0, 0, 0, 220);
    back.setColorAt(0.0, QColor(74, 50, 34));
    back.setColorAt(1.0, QColor(40, 26, 18));
    p.fillPath(frame, back);
    p.setClipPath(frame);
    drawShelf(p, 98,
              {{14, 70, QColor(150, 32, 40)},
               {18, 78, QColor(32, 78, 130)},
               {12, 62, QColor(46, 112, 72)},
               {20, 82, QColor(190, 150, 60)},
               {15, 72, QColor(96, 52, 120)},
               {13, 66, QColor(40, 40, 48)},
               {16, 74, QColor(168, 84, 40)}},
              5);
    drawShelf(p, 200,
              {{19, 80, QColor(30, 96, 110)},
               {13, 64, QColor(176, 48, 52)},
               {17, 76, QColor(70, 70, 140)},
               {14, 70, QColor(200, 176, 120)},
               {21, 84, QColor(44, 92, 52)},
               {12, 60, QColor(124, 36, 60)},
               {15, 68, QColor(60, 60, 64)}},
              1);
    p.setClipping(false);
    p.setPen(QPen(QColor(222, 184, 96), 1.5));
    p.drawPath(frame);
    return picture;
}

} // namespace

FrmCopertina::FrmCopertina(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("FrmCopertina"));
    setWindowTitle(msg::kProgramTitle);
    setFixedSize(kWindowSize);
    setMouseTracking(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(52, 50, 160, 220);
    Image1->setPixmap(coverPicture());
    Image1->setMouseTracking(true);

    const QFont base = font();
    Label1 = makeLabel(this, "Label1", QStringLiteral("Carteo"), QRect(240, 56, 250, 58), QColor(240, 204, 120));
    QFont title = scaledFont(base, 30, true);
    title.setFamily(QStringLiteral("Serif"));
    title.setStyleHint(QFont::Serif);
    Label1->setFont(title);
    Label6 = makeLabel(this, "Label6", QStringLiteral("software di archiviazione libri"), QRect(240, 126, 250, 44),
                       QColor(200, 212, 232));
    Label6->setFont(scaledFont(base, 11, false, true));
    Label5 = makeLabel(this, "Label5",
                       QStringLiteral("Per informazioni sul software, aggiornamenti e modifiche, visitate il "
                                      "sito internet"),
                       QRect(240, 124, 240, 84), QColor(200, 212, 232));
    Label5->setFont(scaledFont(base, 10));
    Label5->hide();
    Label3 =
        makeLabel(this, "Label3", QStringLiteral("realizzato da"), QRect(240, 212, 250, 22), QColor(160, 172, 196));
    Label3->setFont(scaledFont(base, 9));
    Label4 = makeLabel(this, "Label4", QStringLiteral("Progetto Carteo · guida"), QRect(240, 234, 250, 26), kLinkDim);
    QFont link = scaledFont(base, 11, true);
    link.setUnderline(true);
    Label4->setFont(link);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->setToolTip(QStringLiteral("Apre la guida all'uso di Carteo"));
    Label4->setMouseTracking(true);

    // Which program this is, for whoever asks for help: shown in the about window only.
    LblVersione = makeLabel(this, "LblVersione", QStringLiteral("versione ") + app::version(), QRect(240, 28, 250, 22),
                            QColor(160, 172, 196));
    LblVersione->setFont(scaledFont(base, 9));
    LblVersione->hide();

    for (QLabel* label : {Image1, Label1, Label3, Label4, Label5, Label6, LblVersione}) {
        label->installEventFilter(this);
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &FrmCopertina::Timer1_Timer);
}

FrmCopertina::~FrmCopertina() = default;

void FrmCopertina::setShowMainWindow(std::function<void()> show)
{
    m_showMainWindow = std::move(show);
}

QString FrmCopertina::guidePath()
{
    return paths::guidePath();
}

bool FrmCopertina::isSplash() const
{
    return Label5->isHidden();
}

void FrmCopertina::Form_Load()
{
    m_loaded = true;
    setMask(
        QRegion(-kOvalMargin, -kOvalMargin, width() + 2 * kOvalMargin, height() + 2 * kOvalMargin, QRegion::Ellipse));
    // The splash stays above the windows of other programs until it leaves.
    keepOnTop(isSplash());
    Timer1->setInterval(kTickMs);
    m_ticks = 0;
    Timer1->start();
}

void FrmCopertina::Timer1_Timer()
{
    // A tick that arrives in the about window (queued before the timer stopped) is no reason to
    // close it.
    if (!isSplash()) {
        return;
    }
    ++m_ticks;
    if (m_ticks > kLastQuietTick) {
        Form_Click();
    }
}

void FrmCopertina::Form_Click()
{
    // Left here as well as on closing: a window that was never shown gets no close event.
    leave();
    close();
}

void FrmCopertina::Label5_Click()
{
    leave();
    close();
}

void FrmCopertina::Label4_Click()
{
    // Without a browser or without the page nothing happens; the window stays either way.
    QDesktopServices::openUrl(QUrl::fromLocalFile(guidePath()));
}

void FrmCopertina::Form_MouseMove()
{
    setLinkColour(kLinkDim);
}

void FrmCopertina::Image1_MouseMove()
{
    setLinkColour(kLinkDim);
}

void FrmCopertina::Label4_MouseMove()
{
    setLinkColour(kLinkLit);
}

void FrmCopertina::keepOnTop(bool onTop)
{
    // Changing the flags re-creates the window and hides it, so only a real change is made.
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    }
}

void FrmCopertina::setLinkColour(const QColor& colour)
{
    QPalette palette = Label4->palette();
    if (palette.color(QPalette::WindowText) == colour) {
        return;
    }
    palette.setColor(QPalette::WindowText, colour);
    Label4->setPalette(palette);
}

void FrmCopertina::showAsAbout()
{
    if (!m_loaded) {
        Form_Load();
    }
    Label6->hide();
    Label5->show();
    LblVersione->show();
    if (!Label5->isHidden()) {
        Timer1->stop();
    }
    // Modal over the main window; it need not stay above other programs.
    keepOnTop(false);
    exec();
}

void FrmCopertina::leave()
{
    Timer1->stop();
    m_ticks = 0;
    if (isSplash() && !m_mainShown) {
        m_mainShown = true;
        if (m_showMainWindow) {
            m_showMainWindow();
        }
    }
}

bool FrmCopertina::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove) {
        // Handled here; passed on, the move would reach the window's background handler too.
        if (watched == Label4) {
            Label4_MouseMove();
            return true;
        }
        if (watched == Image1) {
            Image1_MouseMove();
            return true;
        }
        return false;
    }
    if (event->type() != QEvent::MouseButtonRelease) {
        return QDialog::eventFilter(watched, event);
    }
    const auto* release = static_cast<QMouseEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    // A click is a left press and release on the same control.
    if (release->button() != Qt::LeftButton || !widget || !widget->rect().contains(release->position().toPoint())) {
        return true;
    }
    if (watched == Label4) {
        Label4_Click();
    } else if (watched == Label5) {
        Label5_Click();
    } else {
        Form_Click();
    }
    // Handled here, so the window's own release handler does not see the click a second time.
    return true;
}

void FrmCopertina::mouseMoveEvent(QMouseEvent* event)
{
    Form_MouseMove();
    QDialog::mouseMoveEvent(event);
}

void FrmCopertina::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Form_Click();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

void FrmCopertina::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient night(0, 0, 0, height());
    night.setColorAt(0.0, QColor(30, 44, 78));
    night.setColorAt(1.0, QColor(10, 14, 30));
    p.fillRect(rect(), night);
    // A gold rule under the program's name.
    p.fillRect(QRect(242, 118, 220, 2), QColor(200, 160, 80));
}

void FrmCopertina::closeEvent(QCloseEvent* event)
{
    leave();
    QDialog::closeEvent(event);
}

void FrmCopertina::done(int result)
{
    leave();
    QDialog::done(result);
}
