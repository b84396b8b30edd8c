#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

// Every message box of the program goes through here: program title as caption, the icon and
// buttons asked for, Yes the default of a question, Italian button texts, the normal pointer even
// over busy work. A carriage return inside a message is a line break on screen.
namespace msg {

enum class Icon { None, Information, Exclamation, Critical };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

inline const QString kProgramTitle = QStringLiteral("Carteo");

// Shown when a window or the program is closed while a book is being edited.
inline const QString kEditingOpen = QStringLiteral("E' in corso una modifica del record!!!\r"
                                                   "Prima di uscire dal programma, occorre Salvare o Annullare "
                                                   "l'operazione");

Answer show(const QString& text, Icon icon = Icon::None, Buttons buttons = Buttons::Ok);

// A message with buttons of its own (`buttons`, the first the default, the last the one Esc
// presses): the index of the button pressed. Recorded as show(); queued answers do not answer it.
int choose(const QString& text, Icon icon, const QStringList& buttons);

// A message about work done in the background: shown without holding up the user, who goes on
// working, and closed with `owner`, so it never stands in the way of quitting. Recorded as show().
QWidget* notify(QWidget* owner, const QString& text, Icon icon = Icon::Information);

// For tests: answers queued here are used, in order, instead of showing the dialog. While
// recording is on, every shown text (with CR as written) and its icon are kept; the program itself
// never records.
void queueAnswer(Answer answer);
void clearQueuedAnswers();
void setRecording(bool on);
QStringList& shownTexts();
// The icon of each recorded text, in the same order.
QList<Icon>& shownIcons();

} // namespace msg
