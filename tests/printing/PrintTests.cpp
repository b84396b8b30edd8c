#include "PrintTests.h"

#include "books/FrmBiblio.h"
#include "printing/PrintRun.h"
#include "printing/frmstampa.h"

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTest>

#include <stdexcept>

namespace printtests {

void WatchedSurface::place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font)
{
    RecordingSurface::place(topLeft, baseline, text, font);
    if (onText) {
        onText(texts.constLast());
    }
}

void WatchedSurface::finishDocument()
{
    RecordingSurface::finishDocument();
    if (onDocumentEnd) {
        onDocumentEnd(int(documents.size()));
    }
}

void clickWhenTheRunYields(QAbstractButton* button)
{
    QPointer<QAbstractButton> target(button);
    QMetaObject::invokeMethod(
        qApp,
        [target] {
            if (target) {
                QTest::mouseClick(target, Qt::LeftButton);
            }
        },
        Qt::QueuedConnection);
}

void press(QWidget* dialog, const QString& name)
{
    auto* button = dialog->findChild<QPushButton*>(name);
    if (!button) {
        throw std::runtime_error("the dialog has no button " + name.toStdString());
    }
    button->click();
}

std::unique_ptr<testsupport::NextModal> onPrintDialog(std::function<void(frmstampa&)> steps)
{
    return std::make_unique<testsupport::NextModal>([steps = std::move(steps)](QWidget* modal) {
        auto* dialog = qobject_cast<frmstampa*>(modal);
        if (!dialog) {
            modal->close();
            QFAIL(qPrintable(QStringLiteral("another dialog came first: ") + modal->objectName()));
        }
        steps(*dialog);
    });
}

Fixture::Fixture(const QString& populateSql) : books((testsupport::resetShellState(), populateSql))
{
    printing::setSurfaceForTests(&surface);
}

Fixture::~Fixture()
{
    printing::setSurfaceForTests(nullptr);
}

bool Fixture::print(int index, std::function<void(frmstampa&)> steps)
{
    const auto answer = onPrintDialog(std::move(steps));
    books.control<QPushButton>(QStringLiteral("Command1_%1").arg(index))->click();
    return answer->answered();
}

QStringList Fixture::texts(int document) const
{
    QStringList all;
    for (const auto& t : surface.textsOf(document)) {
        all << t.text;
    }
    return all;
}

void Fixture::makeLogo(int width, int height) const
{
    QImage logo(width, height, QImage::Format_RGB32);
    logo.fill(Qt::darkBlue);
    if (!logo.save(folder.filePath(QStringLiteral("logo.jpg")), "JPG")) {
        throw std::runtime_error("logo.jpg could not be written");
    }
}

} // namespace printtests
