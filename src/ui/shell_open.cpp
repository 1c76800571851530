#include "ui/shell_open.h"

#include "clustering/url_display.h"

#include <QDesktopServices>
#include <QUrl>

namespace kelvara {

bool ShellOpen(const QString& target) {
    if (!isOpenableUrl(target)) {
        return false;
    }
    return QDesktopServices::openUrl(QUrl(target, QUrl::StrictMode));
}

}  // namespace kelvara
