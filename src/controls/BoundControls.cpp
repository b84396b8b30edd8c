#include "controls/BoundControls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace controls {
namespace {

// A line edit's own limit on the characters it holds.
constexpr int kDefaultMaxLength = 32767;
// Texts longer than this are shown only as far as they show while their field cannot be used.
constexpr qsizetype kFoldAbove = 256;

// Switches the background between the field and focus colours.
class FocusColours : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            auto* w = static_cast<QWidget*>(watched);
            QPalette p = w->palette();
            p.setColor(QPalette::Base, event->type() == QEvent::FocusIn ? kFocusBackground : kFieldBackground);
            w->setPalette(p);
        }
        return false;
    }
};

// A combo box read by a screen reader: its name is its caption, its value what it shows. (Left to
// itself, a filled combo would give its value as its name and the caption would be lost.)
class CaptionedCombo : public QAccessibleWidget {
  public:
    explicit CaptionedCombo(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        const auto* combo = static_cast<const QComboBox*>(widget());
        if (t == QAccessible::Name && !combo->accessibleName().isEmpty()) {
            return combo->accessibleName();
        }
        if (t == QAccessible::Value) {
            return combo->currentText();
        }
        return QAccessibleWidget::text(t);
    }
};

const char* const kCaptioned = "carteoCaptioned";

QAccessibleInterface* captionedComboFactory(const QString&, QObject* object)
{
    auto* combo = qobject_cast<QComboBox*>(object);
    return combo && combo->property(kCaptioned).toBool() ? new CaptionedCombo(combo) : nullptr;
}

} // namespace

void applyFieldColours(QWidget* widget)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Base, kFieldBackground);
    widget->setPalette(p);
    widget->installEventFilter(new FocusColours(widget));
}

void keepUpperCase(QLineEdit* edit)
{
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        const QString upper = text.toUpper();
        if (upper != text) {
            const int caret = edit->cursorPosition();
            edit->setText(upper);
            edit->setCursorPosition(caret);
        }
    });
}

QLabel* captionFor(QWidget* parent, const QString& name, const QString& text, QWidget* field)
{
    auto* label = named(new QLabel(text, parent), name);
    if (auto* combo = qobject_cast<QComboBox*>(field)) {
        // Screen readers see the caption as the combo's name whatever it shows.
        static const bool installed = [] {
            QAccessible::installFactory(captionedComboFactory);
            return true;
        }();
        Q_UNUSED(installed);
        combo->setProperty(kCaptioned, true);
        // An interface made earlier (filling the combo already asks for one) is replaced by ours.
        if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(combo);
            made && !dynamic_cast<CaptionedCombo*>(made)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
        }
        // The text box inside an editable combo is named after the same caption.
        if (combo->lineEdit()) {
            combo->lineEdit()->setAccessibleName(text);
        }
    }
    field->setAccessibleName(text);
    label->setBuddy(field);
    return label;
}

// ---------------------------------------------------------------- BoundField

BoundField::~BoundField()
{
    if (m_source) {
        m_source->unbind(this);
    }
}

void BoundField::bindTo(store::DataSource* source, const QString& field)
{
    if (m_source) {
        m_source->unbind(this);
    }
    m_source = source;
    m_field = field;
    if (m_source) {
        m_source->bind(this);
    }
}

// ---------------------------------------------------------------- BoundLineEdit

BoundLineEdit::BoundLineEdit(QWidget* parent) : QLineEdit(parent)
{
    applyFieldColours(this);
    connect(this, &QLineEdit::textEdited, this, &BoundLineEdit::typed);
    connect(this, &QLineEdit::textChanged, this, &BoundLineEdit::changed);
}


void BoundLineEdit::setUpperCase(bool on)
{
    m_upperCase = on;
}

void BoundLineEdit::setRule(const FieldRule& rule)
{
    m_rule = rule;
    m_upperCase = rule.upperCase;
    m_accepted = rule.accepted;
    if (rule.maxLength > 0) {
        setLengthLimit(rule.maxLength);
    }
    switch (rule.number) {
    case FieldRule::Number::Lire:
        m_formatter = formatLire;
        break;
    case FieldRule::Number::Euro:
        m_formatter = formatEuro;
        break;
    default:
        m_formatter = nullptr;
        break;
    }
}

void BoundLineEdit::setLengthLimit(int limit)
{
    m_limit = limit;
    setMaxLength(limit > 0 ? std::max(limit, int((m_whole ? *m_whole : text()).size())) : kDefaultMaxLength);
}

void BoundLineEdit::setTextToStore(const QString& text)
{
    m_whole.reset();
    setText(text);
    setModified(true);
}

void BoundLineEdit::typed(const QString& text)
{
    if (m_rule.number == FieldRule::Number::Lire) {
        // Grouped in thousands as the digits come, the caret at the end.
        const QString grouped = formatLireTyping(text);
        if (grouped != text) {
            setTextToStore(grouped);
        }
        setCursorPosition(int(this->text().size()));
        return;
    }
    if (m_upperCase) {
        upperCaseKeepingCaret(text);
    }
}

void BoundLineEdit::changed()
{
    // A value shown from the archive, or the part of it the box holds, is shown as it is stored.
    if (m_folding) {
        return;
    }
    // Text set from outside replaces the whole text, not only the part shown.
    m_whole.reset();
    // Typed text is handled as it is typed; this sees the rest (text set through the accessibility
    // interface, which dictation and screen readers use).
    if (!m_upperCase || m_rule.number == FieldRule::Number::Lire) {
        return;
    }
    upperCaseKeepingCaret(text());
}

void BoundLineEdit::upperCaseKeepingCaret(const QString& text)
{
    QString upper = text.toUpper();
    if (upper == text) {
        return;
    }
    // Some letters grow in capitals (ß is SS): the caret goes after what was typed in capitals,
    // and what would pass the limit is dropped there, never at the end.
    int caret = int(text.left(cursorPosition()).toUpper().size());
    const int excess = int(upper.size()) - maxLength();
    if (excess > 0) {
        const int from = std::max(0, caret - excess);
        upper.remove(from, caret - from);
        caret = from;
    }
    setTextToStore(upper);
    setCursorPosition(caret);
}

void BoundLineEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    if (m_rule.selectOnEntry && !hasSelectedText()) {
        setSelection(cursorPosition(), int(text().size()) - cursorPosition());
    }
}

void BoundLineEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (isReadOnly()) {
        return;
    }
    const bool changed = isModified();
    if (m_rule.number == FieldRule::Number::Lire) {
        setText(formatLire(text()));
    } else if (m_rule.number == FieldRule::Number::Euro) {
        setText(formatEuro(text()));
    }
    setModified(changed);
}

void BoundLineEdit::setAcceptedCharacters(const QString& characters)
{
    m_accepted = characters;
}

void BoundLineEdit::showFieldValue(const QVariant& value)
{
    const QString shown = m_formatter ? m_formatter(value) : value.toString();
    // A longer stored value is shown whole, and kept whole by a save (past the box's own limit of
    // 32,767 characters too).
    setMaxLength(std::max(m_limit > 0 ? m_limit : kDefaultMaxLength, int(shown.size())));
    showText(shown);
    m_shown = wholeText();
    setModified(false);
    setCursorPosition(0);
}

void BoundLineEdit::showText(const QString& whole)
{
    // A line edit lays out and draws its whole text, though one line of it shows: for a note of
    // 20 KB that is most of the time a book takes to show. While the field cannot be used (a
    // book being browsed) it holds only the start that shows, and the whole text comes back as
    // soon as it can be used. A screen reader is given the whole text at once.
    QString part = whole;
    if (!isEnabled() && whole.size() > kFoldAbove && !QAccessible::isActive()) {
        const QFontMetrics metrics = fontMetrics();
        // Twice the box's width is shown for certain, whatever the characters.
        const int room = 2 * std::max(width(), 1);
        qsizetype length = kFoldAbove;
        while (length < whole.size() && metrics.horizontalAdvance(whole.left(length)) <= room) {
            length *= 2;
        }
        if (length < whole.size()) {
            if (whole.at(length - 1).isHighSurrogate()) {
                ++length;
            }
            part = whole.left(length);
        }
    }
    {
        const QScopedValueRollback folding(m_folding, true);
        if (part != text()) { // an unchanged text costs no layout or repaint
            setText(part);
        }
    }
    if (part.size() < whole.size()) {
        m_whole = whole;
    } else {
        m_whole.reset();
    }
}

void BoundLineEdit::refold()
{
    if (!m_whole) {
        return;
    }
    const bool modified = isModified();
    const int caret = cursorPosition();
    const QString whole = *m_whole;
    showText(whole);
    setModified(modified);
    setCursorPosition(std::min(caret, int(text().size())));
}

void BoundLineEdit::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange) {
        refold();
    }
}

void BoundLineEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    refold();
}

QVariant BoundLineEdit::fieldValueForUpdate() const
{
    const QString whole = m_whole ? *m_whole : text();
    if (whole.isEmpty()) {
        return {};
    }
    if (m_rule.number == FieldRule::Number::None) {
        return whole;
    }
    const std::optional<double> amount = parseAmount(whole);
    if (!amount) {
        throw store::DbError(
            store::ErrTypeMismatch,
            QStringLiteral("Il valore \"%1\" del campo %2 non è un numero.").arg(whole, accessibleName()));
    }
    if (!withinLimits(*amount, m_rule.number)) {
        throw store::DbError(store::ErrTypeMismatch,
                             QStringLiteral("Il valore \"%1\" del campo %2 supera il massimo consentito (%3).")
                                 .arg(text(), accessibleName(), largestAmount(m_rule.number)));
    }
    if (m_rule.number == FieldRule::Number::Euro) {
        return *amount;
    }
    return QVariant(qint64(std::llround(*amount)));
}

void BoundLineEdit::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    if (!m_accepted.isEmpty() && !typed.isEmpty() && typed.at(0).isPrint() && !m_accepted.contains(typed.at(0))) {
        event->accept(); // discarded, as the field accepts only some characters
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------- BoundTextEdit

BoundTextEdit::BoundTextEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    applyFieldColours(this);
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { changed(position, added); });
}

void BoundTextEdit::changed(int position, int added)
{
    if (m_showing || !m_upperCase || added <= 0) {
        return;
    }
    // Only what came in is put in capitals: the rest of a note stored in small letters stays as it
    // is stored.
    const int end = std::min(position + added, document()->characterCount() - 1);
    if (end <= position) {
        return;
    }
    QTextCursor span(document());
    span.setPosition(position);
    span.setPosition(end, QTextCursor::KeepAnchor);
    const QString text = span.selectedText();
    const QString upper = text.toUpper();
    if (upper == text) {
        return;
    }
    const QScopedValueRollback fixing(m_showing, true);
    // The paragraph separators a selection reads back as are line breaks in the box.
    span.insertText(QString(upper).replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}

void BoundTextEdit::showFieldValue(const QVariant& value)
{
    QString shown = value.toString();
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (shown != toPlainText()) {
        const QScopedValueRollback showing(m_showing, true);
        setPlainText(shown);
    }
    // What the box reads back: the document may turn some characters into others.
    m_shown = toPlainText();
    document()->setModified(false);
}

QVariant BoundTextEdit::fieldValueForUpdate() const
{
    QString stored = toPlainText();
    if (stored.isEmpty()) {
        return {};
    }
    return stored.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

void BoundTextEdit::keyPressEvent(QKeyEvent* event)
{
    const QString typed = event->text();
    if (m_upperCase && !typed.isEmpty() && typed.toUpper() != typed) {
        QKeyEvent upper(event->type(), event->key(), event->modifiers(), typed.toUpper(), event->isAutoRepeat(),
                        ushort(event->count()));
        QPlainTextEdit::keyPressEvent(&upper);
        event->setAccepted(upper.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void BoundTextEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // Accented letters composed with dead keys arrive here.
    if (m_upperCase && event->commitString().toUpper() != event->commitString()) {
        QInputMethodEvent upper(event->preeditString(), event->attributes());
        upper.setCommitString(event->commitString().toUpper(), event->replacementStart(),
                              event->replacementLength());
        QPlainTextEdit::inputMethodEvent(&upper);
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

void BoundTextEdit::insertFromMimeData(const QMimeData* source)
{
    if (!m_upperCase || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    // Pasted text is plain and in capitals, like typed text.
    insertPlainText(source->text().toUpper());
}

// ---------------------------------------------------------------- ComboFieldBinding

ComboFieldBinding::ComboFieldBinding(QComboBox* combo, store::DataSource* source, const QString& field)
    : QObject(combo), m_combo(combo), m_source(source), m_field(field)
{
    m_source->bind(this);
}

ComboFieldBinding::~ComboFieldBinding()
{
    if (m_source) {
        m_source->unbind(this);
    }
}

std::optional<bool> ComboFieldBinding::fieldModified() const
{
    return m_combo->currentText() != m_shown;
}

void ComboFieldBinding::showFieldValue(const QVariant& value)
{
    m_shown = value.toString();
    m_combo->setCurrentIndex(-1);
    if (m_combo->isEditable()) {
        m_combo->setEditText(value.toString());
    } else {
        m_combo->setCurrentIndex(m_combo->findText(value.toString(), Qt::MatchFixedString));
    }
}

QVariant ComboFieldBinding::fieldValueForUpdate() const
{
    const QString t = m_combo->currentText();
    return t.isEmpty() ? QVariant() : QVariant(t);
}

} // namespace controls
