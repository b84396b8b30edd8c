#pragma once

// What the print run tests share: a program folder, a books window on its own archive, the
// recording surface in place of the printer, and answers for the options dialog.

#include "printing/RecordingSurface.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QPushButton>

#include <functional>
#include <memory>

class frmstampa;

namespace printtests {

// A recording surface that lets a test act at a given point of the work: when a text is placed
// and when a document ends. A run is then stopped or disturbed at a known row, whatever the
// machine's speed.
class WatchedSurface : public printing::RecordingSurface {
  public:
    using RecordingSurface::RecordingSurface;
    std::function<void(const Text&)> onText;
    std::function<void(int document)> onDocumentEnd;

  protected:
    void place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font) override;
    void finishDocument() override;
};

// Delivers a click on `button` the next time the run lets events in, as a user's click would be.
void clickWhenTheRunYields(QAbstractButton* button);

// Presses the button `name` of the dialog `dialog`; throws when it has none.
void press(QWidget* dialog, const QString& name);

// Answers the next options dialog with `steps`, which ends by pressing one of its buttons.
std::unique_ptr<testsupport::NextModal> onPrintDialog(std::function<void(frmstampa&)> steps);

// A books window on `populateSql` in a program folder of its own, with the run printing on `surface`.
struct Fixture {
    explicit Fixture(const QString& populateSql = testsupport::BooksWindow::catalogue());
    ~Fixture();

    testsupport::ProgramFolder folder;
    WatchedSurface surface;
    testsupport::BooksWindow books;

    // Presses the books window's print button `index`, the dialog answered by `steps`; true when
    // the dialog was shown and answered.
    bool print(int index, std::function<void(frmstampa&)> steps);
    // The texts of `document`, in order of printing.
    QStringList texts(int document = 1) const;
    // A logo.jpg in the program folder, `width` x `height` pixels.
    void makeLogo(int width, int height) const;
};

} // namespace printtests
