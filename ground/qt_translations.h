#pragma once
// Qt's own texts (file dialog, message box buttons, print dialog ...) in
// Russian, like the rest of the program.

#include <QString>

// Installs Qt's Russian catalogue (qtbase_ru.qm from Qt's translations
// folder) and, after it, the few texts that catalogue lacks.  Needs the
// application object; the translators live as long as it does.  False when
// the catalogue was not found (Qt's texts then stay English).
bool installQtTranslations();

// Where the catalogue was looked for.
QString qtTranslationsFolder();
