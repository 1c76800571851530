#include "core/window_rules.h"

#include "core/textfile.h"

#include <cmath>

namespace kelvara {

QStringList queryLines(const QString& text) {
    // The edit control breaks lines where the text files do: CR LF, LF or CR. A blank line is
    // no query: asking for it only earns an error of the service.
    QStringList lines = splitLines(text);
    lines.removeIf(isBlankQuery);
    return lines;
}

int queryLineCount(const QString& text) {
    return int(queryLines(text).size());
}

int leftPaneWidth(int available, double manualShare) {
    if (manualShare < 0) {
        return available / 2;
    }
    return int(std::nearbyint(double(available) * manualShare));
}

}  // namespace kelvara
