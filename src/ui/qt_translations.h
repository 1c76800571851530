#pragma once

#include "core/platform.h"

#include <QString>

class QTranslator;

namespace kelvara {

// Qt's own texts (the standard buttons, the file dialogs, the input box) in the interface
// language, so that a Russian window does not ask "Yes"/"Cancel". Russian installs qtbase_ru
// from the folder (Qt's translations folder by default) on the application, which owns it; English
// needs nothing. Null for English and when the translation could not be loaded (the texts stay
// English then).
QTranslator* installQtTranslations(UiLanguage language, const QString& folder = {});

}  // namespace kelvara
