#include "app/Messages.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <deque>
#include <vector>

namespace msg {
namespace {

std::deque<Answer>& queued()
{
    static std::deque<Answer> answers;
    return answers;
}

bool& recording()
{
    static bool on = false;
    return on;
}

// A message is read with the normal pointer, even when it interrupts work that shows the busy
// one: the pointers set over the whole application are lifted while it is shown and set again,
// in the same order, afterwards.
class NormalPointer {
  public:
    NormalPointer()
    {
        while (const QCursor* cursor = QGuiApplication::overrideCursor()) {
            m_lifted.push_back(*cursor);
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ~NormalPointer()
    {
        for (auto it = m_lifted.rbegin(); it != m_lifted.rend(); ++it) {
            QGuiApplication::setOverrideCursor(*it);
        }
    }
    NormalPointer(const NormalPointer&) = delete;
    NormalPointer& operator=(const NormalPointer&) = delete;

  private:
    std::vector<QCursor> m_lifted;
};

void setIcon(QMessageBox& box, Icon icon)
{
    switch (icon) {
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
}

// Lines of a message are separated by a carriage return.
QString onScreen(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

} // namespace

Answer show(const QString& text, Icon icon, Buttons buttons)
{
    if (recording()) {
        shownTexts().append(text);
        shownIcons().append(icon);
    }
    if (!queued().empty()) {
        const Answer answer = queued().front();
        queued().pop_front();
        return answer;
    }
    const NormalPointer pointer;
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(kProgramTitle);
    box.setText(onScreen(text));
    setIcon(box, icon);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

int choose(const QString& text, Icon icon, const QStringList& buttons)
{
    if (recording()) {
        shownTexts().append(text);
        shownIcons().append(icon);
    }
    const NormalPointer pointer;
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(kProgramTitle);
    box.setText(onScreen(text));
    setIcon(box, icon);
    QList<QAbstractButton*> added;
    for (const QString& caption : buttons) {
        added << box.addButton(caption, added.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
    }
    if (added.isEmpty()) {
        added << box.addButton(QMessageBox::Ok);
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
    box.setEscapeButton(added.last());
    box.exec();
    const qsizetype pressed = added.indexOf(box.clickedButton());
    return pressed < 0 ? int(added.size() - 1) : int(pressed);
}

QWidget* notify(QWidget* owner, const QString& text, Icon icon)
{
    if (recording()) {
        shownTexts().append(text);
        shownIcons().append(icon);
    }
    auto* box = new QMessageBox(owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setWindowTitle(kProgramTitle);
    box->setText(onScreen(text));
    setIcon(*box, icon);
    box->setStandardButtons(QMessageBox::Ok);
    box->show();
    return box;
}

void queueAnswer(Answer answer)
{
    queued().push_back(answer);
}

void clearQueuedAnswers()
{
    queued().clear();
}

void setRecording(bool on)
{
    recording() = on;
}

QList<Icon>& shownIcons()
{
    static QList<Icon> icons;
    return icons;
}

QStringList& shownTexts()
{
    static QStringList texts;
    return texts;
}

} // namespace msg
