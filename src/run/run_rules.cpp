#include "run/run_rules.h"

#include "clustering/assembly.h"
#include "core/messages.h"
#include "core/settings.h"

#include <QHash>

namespace kelvara {

RunPlan planRun(ResultStore& store, const QStringList& lines, Stamp now, RunWork& work) {
    RunPlan plan;
    // Most lines of a large run are the very texts the store holds (an import puts them there):
    // an exact-text index answers those without the collated binary search. The rest (another
    // letter case, a stale entry) still go through the store itself.
    QHash<QStringView, qsizetype> exact;
    if (lines.size() >= 256 && lines.size() * 8 >= store.size()) {
        exact.reserve(store.size());
        for (qsizetype i = 0; i < store.size(); ++i) {
            exact.insert(QStringView(store[i].text), i);
        }
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        qsizetype at = exact.value(QStringView(line), -1);
        if (at >= 0 || store.find(line, &at)) {
            TSerpEntry* entry = store[at].object.get();
            if (youngerThan(now, entry->Stamp, kFreshnessMs)) {
                work.lines.push_back({line, entry});
                continue;
            }
            store.removeAt(at);  // stale: released and fetched again
            ++plan.released;
            exact.clear();  // its indices moved; the store answers from here on
        }
        if (plan.firstMissing < 0) {
            plan.firstMissing = i;
        }
        plan.toFetch.push_back(FetchLine{line, nullptr});
    }
    return plan;
}

qsizetype takeFetched(ResultStore& store, FetchList& fetched, RunWork& work) {
    qsizetype taken = 0;
    for (FetchLine& line : fetched) {
        if (!line.entry) {
            continue;
        }
        ++taken;
        work.lines.push_back({line.text, line.entry.get()});
        if (!store.add(line.text, std::move(line.entry)).inserted) {
            work.runEntries.push_back(std::move(line.entry));
        }
    }
    return taken;
}

QString baseUrl(const QString& serviceUrl, std::optional<int> regionCode) {
    return serviceUrl + QStringLiteral("&lr=") +
           QString::number(regionCode.value_or(kDefaultRegion));
}

QString fetchErrorText(TYandexError kind, const QString& serviceText, UiLanguage language) {
    const Msg inner = kind == yrConnect  ? Msg::NoConnection
                      : kind == yrDomXml ? Msg::NotXml
                                         : Msg::SearchError;
    return messageText(Msg::Error, language, {messageText(inner, language, {serviceText})});
}

std::optional<ClusterList> clusterWork(const WorkList& work, bool hardMethod, int threshold,
                                       GroupingProgress& progress,
                                       const std::function<bool()>& stopRequested) {
    TStringListDynArray groups;
    runGrouping(work, groups, hardMethod, threshold, progress, stopRequested);
    if (progress.FStatus.load() != gsSuccess) {
        return std::nullopt;
    }
    return assembleClusters(groups);
}

}  // namespace kelvara
