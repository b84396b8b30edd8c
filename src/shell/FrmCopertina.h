#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QTimer;

// The oval cover window. At start it is the splash: after four one-second ticks, or at a click,
// it shows the main window and closes. From "info..." it is the about window, shown modally until
// it is clicked. Which of the two it is follows from Label5: hidden in the splash, shown in the
// about window.
class FrmCopertina : public QDialog {
    Q_OBJECT
  public:
    explicit FrmCopertina(QWidget* parent = nullptr);
    ~FrmCopertina() override;

    // What leaving the splash does to show the main window; the about window never calls it.
    void setShowMainWindow(std::function<void()> show);

    // Shapes the window as an oval and starts the one-second timer from tick 0.
    void Form_Load();
    // One tick; the fourth leaves the splash. The about window does not count ticks.
    void Timer1_Timer();
    // Leaves the window: the splash first shows the main window; both then close.
    void Form_Click();
    void Label5_Click();
    // Opens the user guide guida.html (paths::guidePath()); the window stays open.
    void Label4_Click();

    // The link lights up under the mouse and dims again over the background and the picture.
    void Form_MouseMove();
    void Image1_MouseMove();
    void Label4_MouseMove();

    // The about window as "info..." opens it: the product description gives way to the
    // information text and the version, the timer stops, and the window stays until it is clicked.
    void showAsAbout();

    int ticks() const { return m_ticks; }
    // Every way of closing (a click, Esc, the window manager) ends here.
    void done(int result) override;

    // The guide that Label4 opens.
    static QString guidePath();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    bool isSplash() const;
    void setLinkColour(const QColor& colour);
    void keepOnTop(bool onTop);
    // Stops the clock and, for the splash, shows the main window once, whatever way the window
    // is left: a click, the fourth tick, Esc or the window manager's close.
    void leave();

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* LblVersione;
    QTimer* Timer1;

    std::function<void()> m_showMainWindow;
    qint16 m_ticks = 0;
    bool m_loaded = false;
    bool m_mainShown = false;
};
