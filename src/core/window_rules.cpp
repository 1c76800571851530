#include "core/window_rules.h"

#include <cmath>

namespace kelvara {

QStringList queryLines(const QString& text) {
    // Line breaks as the edit control knows them: CR LF, LF or CR.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start));
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.append(text.mid(start));
    }
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
