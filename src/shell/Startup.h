#pragma once

class QCoreApplication;

namespace shell {

// Loads Qt's own Italian texts, so that standard buttons read "Sì", "No", "Annulla" whatever the
// user's language. Returns false when the translations are not installed (the buttons then keep
// Qt's English texts).
bool installItalianTranslations(QCoreApplication& app);

} // namespace shell
