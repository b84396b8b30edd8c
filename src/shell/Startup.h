#pragma once

class QCoreApplication;

namespace shell {

// Loads Qt's own Italian texts, so that standard buttons read "Sì", "No", "Annulla".
void installItalianTranslations(QCoreApplication& app);

} // namespace shell
