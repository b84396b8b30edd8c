#include "printing/FrmStato.h"

#include "app/Guard.h"
#include "app/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegion>
#include <QScreen>
#include <QTimer>

namespace {

// The run answers the user at least this often (milliseconds).
constexpr int kYieldEvery = 40;

FrmStato::Clock& testClock()
{
    static FrmStato::Clock clock;
    return clock;
}

qint64 now()
{
    if (const FrmStato::Clock& clock = testClock()) {
        return clock();
    }
    static const QElapsedTimer machine = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return machine.elapsed();
}

int px(int t)
{
    return twips::pixels(t);
}

QFrame* solid(QWidget* parent, const QString& name, const QColor& colour)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setAutoFillBackground(true);
    QPalette p = frame->palette();
    p.setColor(QPalette::Window, colour);
    frame->setPalette(p);
    return frame;
}

} // namespace

FrmStato::FrmStato(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("FrmStato"));
    setWindowTitle(QStringLiteral("Stampa in corso..."));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(px(4680), px(2100));
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, QColor(224, 224, 224));
    setPalette(black);

    Label1 = new QLabel(QStringLiteral("Stampa in corso..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(px(720), px(600), px(3375), px(495));
    QFont bold(QStringLiteral("MS Sans Serif"));
    bold.setPointSize(12);
    bold.setBold(true);
    Label1->setFont(bold);

    Picture1 = solid(this, QStringLiteral("Picture1"), QColor(64, 64, 64));
    Picture1->setGeometry(px(960), px(1170), px(2775), 2);
    Shape1 = solid(Picture1, QStringLiteral("Shape1"), Qt::red);
    Shape1->setGeometry(0, 0, 1, px(135));

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(px(720), px(1260), px(3240), px(285));
    Label2->setAlignment(Qt::AlignCenter);

    Command1 = new QPushButton(QStringLiteral("Interrompi"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(px(1740), px(1590), px(1215), px(375));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    guard::connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    guard::connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

FrmStato::~FrmStato() = default;

void FrmStato::Form_Load()
{
    // An oval: the ellipse that fits the window widened by 5 pixels on each side and 40 above
    // and below.
    setMask(QRegion(QRect(-5, -40, width() + 10, height() + 80), QRegion::Ellipse));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    showCount();
    show();
    raise();
    Timer1->start();
    m_lastYield = now();
    QApplication::processEvents();
}

void FrmStato::Form_Unload()
{
    Timer1->stop();
    close();
}

void FrmStato::Timer1_Timer()
{
    m_barTwips += 200;
    if (m_barTwips >= 2900) {
        m_barTwips = 10;
    }
    Shape1->resize(qMax(1, px(m_barTwips)), Shape1->height());
}

void FrmStato::Command1_Click()
{
    m_interrupted = true;
    Label1->setText(QStringLiteral("Interruzione..."));
}

void FrmStato::setCopy(int copy, int copies)
{
    m_copy = copy;
    m_copies = copies;
}

void FrmStato::begin(int total)
{
    m_total = total;
    m_done = 0;
    showCount();
}

void FrmStato::setCaption(const QString& caption)
{
    setWindowTitle(caption);
    Label1->setText(caption);
    // A longer caption than the print runs' takes the oval's width, centred.
    Label1->setGeometry(px(240), px(600), px(4200), px(495));
    Label1->setAlignment(Qt::AlignCenter);
}

bool FrmStato::advance(qint64 done, qint64 total)
{
    m_done = done;
    m_total = total;
    if (now() - m_lastYield >= kYieldEvery) {
        yieldNow();
    }
    return !m_interrupted;
}

void FrmStato::showCount()
{
    if (m_percent) {
        Label2->setText(m_total > 0 ? QStringLiteral("%1%").arg(m_done * 100 / m_total) : QString());
        return;
    }
    QString text = QStringLiteral("%1 di %2").arg(m_done).arg(m_total);
    if (m_copies > 1) {
        text += QStringLiteral(" (copia %1 di %2)").arg(m_copy).arg(m_copies);
    }
    Label2->setText(text);
}

void FrmStato::step()
{
    ++m_done;
    if (now() - m_lastYield >= kYieldEvery) {
        yieldNow();
    }
    if (m_interrupted) {
        throw printing::Interrupted{};
    }
}

bool FrmStato::answerUser()
{
    yieldNow();
    return m_interrupted;
}

void FrmStato::yieldNow()
{
    showCount();
    QApplication::processEvents();
    m_lastYield = now();
}

void FrmStato::setClockForTests(Clock clock)
{
    testClock() = std::move(clock);
}

void FrmStato::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        guard::run([this] { Command1_Click(); });
        return;
    }
    QWidget::keyPressEvent(event);
}

void FrmStato::closeEvent(QCloseEvent* event)
{
    // Closing the window while the run prints stops the run; the run closes it.
    if (Timer1->isActive()) {
        guard::run([this] { Command1_Click(); });
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
