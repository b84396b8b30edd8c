#pragma once

#include "printing/Progress.h"

#include <QWidget>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

// The progress window of a print run: an oval with "Stampa in corso...", a moving bar, how far the
// run is ("n di N") and "Interrompi". It is modal while it is shown, so nothing else in the program
// moves under the run; the run lets it answer every few hundredths of a second.
class FrmStato : public QWidget, public printing::Progress {
    Q_OBJECT
  public:
    explicit FrmStato(QWidget* parent = nullptr);
    ~FrmStato() override;

    // Shapes and shows the window, starts the bar, and lets it be drawn.
    void Form_Load();
    // Stops the bar and closes the window, at the run's end.
    void Form_Unload();
    // The bar moves on.
    void Timer1_Timer();
    // "Interrompi": the run stops at its next item.
    void Command1_Click();

    // The copy being printed, when there are several.
    void setCopy(int copy, int copies);
    void begin(int total) override;
    void step() override;
    // Lets the user's clicks and keys in now; true once "Interrompi" was pressed.
    bool answerUser();

    // The caption of a run that is not a print run ("Esportazione in corso..."): the window's
    // title and the oval's text. Print runs keep "Stampa in corso...".
    void setCaption(const QString& caption);
    // For a run that tells its progress as `done` of `total` rather than item by item: shown as
    // "n di N", or as a percentage with setPercent; the user is let in every few hundredths of a
    // second. False once "Interrompi" was pressed.
    bool advance(qint64 done, qint64 total);
    void setPercent(bool percent) { m_percent = percent; }
    bool interrupted() const { return m_interrupted; }

    // The clock the run's answers to the user follow, in milliseconds: the machine's unless a
    // test sets one that it moves itself (an empty one gives the machine's back).
    using Clock = std::function<qint64()>;
    static void setClockForTests(Clock clock);

    QLabel* Label1;
    QFrame* Picture1; // the bar's track
    QFrame* Shape1;   // the bar
    QLabel* Label2;   // "n di N"
    QPushButton* Command1;
    QTimer* Timer1;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void showCount();
    void yieldNow();

    qint64 m_done = 0;
    qint64 m_total = 0;
    bool m_percent = false;
    int m_copy = 1;
    int m_copies = 1;
    int m_barTwips = 15;
    bool m_interrupted = false;
    qint64 m_lastYield = 0;
};
