#include "books/QuickFind.h"

#include "app/Guard.h"
#include "books/SearchPanel.h"
#include "controls/BoundControls.h"
#include "store/Loans.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

namespace books {

QuickFind::QuickFind(QWidget* parent, SearchPanel* search) : QWidget(parent), m_search(search)
{
    setObjectName(QStringLiteral("QuickFind"));
    TxtTrova = controls::named(new QLineEdit(this), QStringLiteral("TxtTrova"));
    TxtTrova->setAccessibleDescription(
        QStringLiteral("Parole del titolo, degli autori, dell'editore, dell'argomento, del luogo o delle note"));
    TxtTrova->setPlaceholderText(QStringLiteral("parole da cercare"));
    auto* caption = controls::captionFor(this, QStringLiteral("LabelTrova"), QStringLiteral("Trova"), TxtTrova);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(caption);
    layout->addWidget(TxtTrova, 1);
    TxtTrova->installEventFilter(this);
    guard::connect(TxtTrova, &QLineEdit::textChanged, this, [this] { m_search->setWords(TxtTrova->text()); });
    guard::connect(TxtTrova, &QLineEdit::returnPressed, this, [this] {
        const store::loans::ScannedKey scanned = store::loans::readKey(TxtTrova->text());
        if (scanned.key > 0) {
            emit keyEntered(scanned.key);
        }
    });
}

void QuickFind::acceptScansFrom(QWidget* keyField)
{
    m_keyField = keyField;
    keyField->installEventFilter(this);
}

bool QuickFind::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_keyField && m_keyField && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() == 1 && text[0].isDigit() && TxtTrova->isEnabled() &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            guard::run([&] {
                // Words typed before give way to the key; the digits of one key run on.
                static const QRegularExpression digits(QStringLiteral("^[0-9]*$"));
                if (!digits.match(TxtTrova->text()).hasMatch()) {
                    TxtTrova->clear();
                }
                TxtTrova->setFocus();
                TxtTrova->end(false);
                TxtTrova->insert(text);
            });
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    if (watched != TxtTrova) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::FocusIn:
        // The window watches Esc in every one of its controls; this field's own filter goes first,
        // so that Esc empties the field before it closes anything.
        TxtTrova->removeEventFilter(this);
        TxtTrova->installEventFilter(this);
        break;
    case QEvent::KeyPress: {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && !TxtTrova->text().isEmpty()) {
            guard::run([this] { TxtTrova->clear(); });
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace books
