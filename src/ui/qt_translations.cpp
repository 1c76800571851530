#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kelvara {

QTranslator* installQtTranslations(UiLanguage language, const QString& folder) {
    QCoreApplication* app = QCoreApplication::instance();
    if (language != UiLanguage::Russian || !app) {
        return nullptr;
    }
    const QString dir =
        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    // Owned by the application, which needs it for as long as it shows a text.
    auto* translator = new QTranslator(app);
    if (!translator->load(QStringLiteral("qtbase_ru"), dir)) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

}  // namespace kelvara
