#include "books/BookLabels.h"

#include "books/FrmEtichette.h"
#include "store/Transfer.h"

namespace books {

QList<printing::LabelBook> labelBooks(store::Archive& archive, const QList<qint64>& keys)
{
    const QStringList& columns = store::transfer::bookColumns();
    const qsizetype title = columns.indexOf(QStringLiteral("titolo"));
    const qsizetype position = columns.indexOf(QStringLiteral("posizione"));
    const qsizetype current = columns.indexOf(QStringLiteral("posizione_attuale"));
    QList<printing::LabelBook> books;
    books.reserve(keys.size());
    store::transfer::forEachBook(archive, &keys, [&](const store::transfer::Book& book) {
        printing::LabelBook label;
        label.key = book.id;
        label.title = book.values.value(title).toString().trimmed();
        label.position = book.values.value(position).toString().trimmed();
        if (label.position.isEmpty()) {
            label.position = book.values.value(current).toString().trimmed();
        }
        books << label;
        return true;
    });
    return books;
}

void openLabels(FrmBiblio& window)
{
    FrmEtichette dialog(window);
    dialog.exec();
}

} // namespace books
