#pragma once

#include "core/serp_entry.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace kelvara {

// One row of the URL list window.
struct UrlListRow {
    QString display;  // the URL's display text (international host names decoded)
    int matches = 0;  // for a cluster: how many of its phrases have the URL; 0 for a phrase
};

// A phrase's URLs in their stored order, every one of them.
std::vector<UrlListRow> phraseUrlRows(const ResultStore& store, const QString& phrase);

// A cluster's URLs: every phrase's URLs as display texts, counted by exact text, ordered by count
// (largest first, equal counts in the order first met), at most `limit` rows.
std::vector<UrlListRow> clusterUrlRows(const ResultStore& store, const QStringList& phrases,
                                       int limit = 20);

// The share of a cluster's phrases whose results hold a URL, as a whole percentage ("67 %"),
// rounded to the nearest; "-" for a cluster without phrases.
QString phraseShareText(int matches, qsizetype phrases);

}  // namespace kelvara
