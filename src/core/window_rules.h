#pragma once

#include <QString>
#include <QStringList>

namespace kelvara {

// The main window's rules that need no window.

// A line that is empty or holds only white space: neither counted, nor asked, nor clustered.
inline bool isBlankQuery(const QString& line) {
    return line.trimmed().isEmpty();
}

// Query lines of the query box: separated by line breaks, blank lines left out.
int queryLineCount(const QString& text);
// The query box's lines for a run: every query line, unchanged, in order.
QStringList queryLines(const QString& text);

// The cluster button is enabled exactly when the URL box is filled and there is a query line.
inline bool clusterButtonEnabled(const QString& url, int lineCount) {
    return !url.isEmpty() && lineCount >= 1;
}

// Pane sizing: W is the width of the working area less the splitter. Until the user has moved
// the splitter (manualShare < 0) the panes are equal halves (the left one a pixel narrower when W
// is odd); afterwards the left pane keeps the user's share, rounded half to even.
int leftPaneWidth(int available, double manualShare);
inline double manualShare(int leftWidth, int available) {
    return available > 0 ? double(leftWidth) / double(available) : -1.0;
}

// The tree's first column takes what the other columns and 30 pixels leave.
inline int firstColumnWidth(int treeWidth, int otherColumns) {
    return treeWidth - 30 - otherColumns;
}

}  // namespace kelvara
