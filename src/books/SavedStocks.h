#pragma once

#include "printing/Labels.h"

#include <QList>
#include <QString>

// The label sheets the user measured and saved under a name, kept in the user's settings file
// (paths::settings(), group "Etichette"), so every archive prints on them.
namespace books::stocks {

// The saved stocks, in the order they were first saved. An entry the file holds damaged (a
// measure that is not a number, labels that do not fit the page, no name) is passed over.
QList<printing::LabelStock> saved();
// Saves `stock` under its name, replacing a saved stock of that name (letter case ignored).
// Throws store::DbError when the stock is unsound (its problem() as the message), has no name, or
// the settings file cannot be written (75); the saved stocks are then as they were.
void save(const printing::LabelStock& stock);
// Forgets the saved stock `name`; throws store::DbError 75 when the settings file cannot be written.
void remove(const QString& name);

} // namespace books::stocks
