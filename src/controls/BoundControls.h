#pragma once

#include "controls/FieldRules.h"
#include "store/DataSource.h"

#include <QColor>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;

namespace controls {

// Field colours shared by the record windows.
inline const QColor kFieldBackground(192, 255, 255); // light cyan
inline const QColor kFocusBackground(255, 255, 192); // light yellow

// Gives a widget the field background, and the focus background while it has the focus.
void applyFieldColours(QWidget* widget);

// Keeps the text of a line edit in upper case as it is typed, with the caret where it was.
void keepUpperCase(QLineEdit* edit);

// Gives a widget its name and returns it.
template <typename W> W* named(W* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// A caption label that names its field for screen readers and takes the keyboard to it.
QLabel* captionFor(QWidget* parent, const QString& name, const QString& text, QWidget* field);

// What every bound text box keeps: its data source and field, given up when it goes.
class BoundField : public store::FieldBinding {
  public:
    BoundField() = default;
    ~BoundField() override;
    BoundField(const BoundField&) = delete;
    BoundField& operator=(const BoundField&) = delete;

    void bindTo(store::DataSource* source, const QString& field);
    QString dataField() const override { return m_field; }

  protected:
    QPointer<store::DataSource> m_source;
    QString m_field;
};

// A text box bound to a field of a data source.
class BoundLineEdit : public QLineEdit, public BoundField {
    Q_OBJECT
  public:
    using Formatter = std::function<QString(const QVariant&)>;

    explicit BoundLineEdit(QWidget* parent = nullptr);

    // Turns typed text to upper case, keeping the caret.
    void setUpperCase(bool on);
    // Only these characters (and Backspace) may be typed; empty means anything.
    void setAcceptedCharacters(const QString& characters);
    // How a stored value is shown; by default its text.
    void setFormatter(Formatter formatter) { m_formatter = std::move(formatter); }
    // The field's rule: accepted keys, case, number format, selection on entry, length.
    void setRule(const FieldRule& rule);
    // The most characters that may be typed or pasted (0: no limit). A stored value that is longer
    // is shown and kept whole: the limit then stands at its length until another value is shown.
    void setLengthLimit(int limit);
    int lengthLimit() const { return m_limit; }
    const FieldRule& rule() const { return m_rule; }

    void showFieldValue(const QVariant& value) override;
    // The text as the field stores it: an amount as a number (read in the regional settings), an
    // empty field as null. Throws store::DbError 3421 for an amount that is not a number or is
    // beyond the field's limits.
    QVariant fieldValueForUpdate() const override;
    // Whatever way the text got into the field (typed, pasted, dropped, or set by assistive
    // technology such as dictation or a screen reader), a text other than the one shown is a change
    // to store.
    std::optional<bool> fieldModified() const override { return isModified() || wholeText() != m_shown; }
    // Sets the text as the program does, marking it as a change to store (a "0" for an empty
    // amount, a chosen publisher's key).
    void setTextToStore(const QString& text);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void typed(const QString& text);
    // Any change but a shown value: the field's case rule, however the text arrived.
    void changed();
    void upperCaseKeepingCaret(const QString& text);
    // Shows `whole`: only its start, as far as the field shows it, while the field cannot be used.
    void showText(const QString& whole);
    // Puts the whole text back in the box, or shows more of it when the box grew.
    void refold();
    // The field's text, all of it, though the box may hold only its start.
    QString wholeText() const { return m_whole ? *m_whole : text(); }

    QString m_accepted;
    Formatter m_formatter;
    FieldRule m_rule;
    bool m_upperCase = false;
    int m_limit = 0;
    QString m_shown; // the whole text showFieldValue put in the field
    // The whole text while the box holds only its start (a long note of a book being browsed).
    std::optional<QString> m_whole;
    bool m_folding = false; // the box's text is being set to a value shown, a part of it or all of it
};

// A text box of several lines bound to a field of a data source, for notes. Line breaks are
// stored as CR LF, as the program has always written them; typed and pasted text can be turned
// to upper case, the caret kept. An empty box stores a null.
class BoundTextEdit : public QPlainTextEdit, public BoundField {
    Q_OBJECT
  public:
    explicit BoundTextEdit(QWidget* parent = nullptr);

    void setUpperCase(bool on) { m_upperCase = on; }
    QString text() const { return toPlainText(); }

    void showFieldValue(const QVariant& value) override;
    QVariant fieldValueForUpdate() const override;
    // As for a line: a text other than the one shown is a change, however it arrived.
    std::optional<bool> fieldModified() const override
    {
        return document()->isModified() || toPlainText() != m_shown;
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

  private:
    // Text that arrived by another way than typing or pasting is put in capitals too: the
    // `added` characters from `position`.
    void changed(int position, int added);

    bool m_upperCase = false;
    QString m_shown;
    bool m_showing = false; // inside showFieldValue, or putting the text in capitals
};

// Binds the edit text of a combo box to a field.
class ComboFieldBinding : public QObject, public store::FieldBinding {
    Q_OBJECT
  public:
    ComboFieldBinding(QComboBox* combo, store::DataSource* source, const QString& field);
    ~ComboFieldBinding() override;
    QString dataField() const override { return m_field; }
    void showFieldValue(const QVariant& value) override;
    QVariant fieldValueForUpdate() const override;
    std::optional<bool> fieldModified() const override;

  private:
    QComboBox* m_combo;
    QString m_shown;
    QPointer<store::DataSource> m_source;
    QString m_field;
};

} // namespace controls
