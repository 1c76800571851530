#include "ui/shell_open.h"

#include "clustering/url_display.h"

#include <QDesktopServices>
#include <QUrl>

#ifdef Q_OS_WIN
#include "core/windows_api.h"

#include <shellapi.h>
#endif

namespace kelvara {

bool ShellOpen(const QString& target) {
    if (!isOpenableUrl(target)) {
        return false;
    }
#ifdef Q_OS_WIN
    // The shell's "OPEN" action: the user's browser for the address. Above 32 is success.
    const std::wstring wide = target.toStdWString();
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"OPEN", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
#else
    return QDesktopServices::openUrl(QUrl(target, QUrl::StrictMode));
#endif
}

}  // namespace kelvara
