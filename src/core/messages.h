#pragma once

#include "core/platform.h"

#include <QString>
#include <QStringList>

namespace kelvara {

// The maker's web domain and the author's name, shown in the export footer and the about window.
inline constexpr char16_t kMakerDomain[] = u"www.tarvelo.example";
inline constexpr char16_t kAuthorName[] = u"Arvid Tarvelo";

inline constexpr int kMessageCount = 29;

// Message number n (0 to 28) in the given language; a number outside the table gives "".
QString GetMessageText(int n, UiLanguage language);

// Fills each "%s" of the pattern, in order, with the next argument; "%%" is a single "%".
// Placeholders without an argument are left empty.
QString formatMessage(const QString& pattern, const QStringList& args);

// A message filled with its arguments.
inline QString messageText(int n, UiLanguage language, const QStringList& args = {}) {
    return formatMessage(GetMessageText(n, language), args);
}

}  // namespace kelvara
