#include "controls/BoundControls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>

namespace controls {
namespace {

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

// ---------------------------------------------------------------- BoundLineEdit

BoundLineEdit::BoundLineEdit(QWidget* parent) : QLineEdit(parent)
{
    applyFieldColours(this);
}

BoundLineEdit::~BoundLineEdit()
{
    if (m_source) {
        m_source->unbind(this);
    }
}

void BoundLineEdit::bindTo(store::DataSource* source, const QString& field)
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

void BoundLineEdit::setUpperCase(bool on)
{
    if (on) {
        keepUpperCase(this);
    }
}

void BoundLineEdit::setAcceptedCharacters(const QString& characters)
{
    m_accepted = characters;
}

void BoundLineEdit::showFieldValue(const QVariant& value)
{
    const QString shown = m_formatter ? m_formatter(value) : value.toString();
    if (shown != text()) { // an unchanged text costs no layout or repaint
        setText(shown);
    }
    setCursorPosition(0);
}

QVariant BoundLineEdit::fieldValueForUpdate() const
{
    return text().isEmpty() ? QVariant() : QVariant(text());
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

void ComboFieldBinding::showFieldValue(const QVariant& value)
{
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
