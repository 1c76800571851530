#include "tree/url_list.h"

#include "clustering/url_display.h"

#include <QHash>
#include <algorithm>

namespace kelvara {

std::vector<UrlListRow> phraseUrlRows(const ResultStore& store, const QString& phrase) {
    std::vector<UrlListRow> rows;
    if (const TSerpEntry* e = findEntry(store, phrase)) {
        rows.reserve(size_t(e->Urls.size()));
        for (const auto& u : e->Urls) {
            rows.push_back({urlDisplayText(u.text), 0});
        }
    }
    return rows;
}

std::vector<UrlListRow> clusterUrlRows(const ResultStore& store, const QStringList& phrases,
                                       int limit) {
    // Counting by exact text in one pass gives what walking the sequence and emptying the later
    // copies gives: each text once, at its first place, with the number of its copies.
    std::vector<UrlListRow> rows;
    QHash<QString, size_t> at;
    for (const QString& phrase : phrases) {
        const TSerpEntry* e = findEntry(store, phrase);
        if (!e) {
            continue;
        }
        for (const auto& u : e->Urls) {
            const QString display = urlDisplayText(u.text);
            if (display.isEmpty()) {
                continue;  // an empty entry counts 0 and is never listed
            }
            auto it = at.find(display);
            if (it == at.end()) {
                at.insert(display, rows.size());
                rows.push_back({display, 1});
            } else {
                ++rows[*it].matches;
            }
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const UrlListRow& a, const UrlListRow& b) {
        return a.matches > b.matches;
    });
    if (rows.size() > size_t(std::max(0, limit))) {
        rows.resize(size_t(std::max(0, limit)));
    }
    return rows;
}

QString phraseShareText(int matches, qsizetype phrases) {
    if (phrases <= 0) {
        return QStringLiteral("-");
    }
    const qint64 percent = (qint64(matches) * 200 + phrases) / (qint64(phrases) * 2);
    return QString::number(percent) + QStringLiteral(" %");
}

}  // namespace kelvara
