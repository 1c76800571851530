#include "run/run_rules.h"

#include "clustering/assembly.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/window_rules.h"

#include <QHash>
#include <QUrl>

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
    QHash<QStringView, qsizetype> asked;  // exact text -> place in toFetch
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (isBlankQuery(line)) {
            continue;
        }
        if (const auto again = asked.constFind(QStringView(line)); again != asked.cend()) {
            plan.order.push_back(*again);  // the same text again: asked once
            continue;
        }
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
        asked.insert(QStringView(line), qsizetype(plan.toFetch.size()));
        plan.order.push_back(qsizetype(plan.toFetch.size()));
        plan.toFetch.push_back(FetchLine{line, nullptr});
    }
    return plan;
}

qsizetype takeFetched(ResultStore& store, RunPlan& plan, RunWork& work) {
    // The answer of each query once it has gone into the store (or the run's own entries).
    std::vector<TSerpEntry*> answered(plan.toFetch.size(), nullptr);
    qsizetype taken = 0;
    for (const qsizetype k : plan.order) {
        FetchLine& line = plan.toFetch[size_t(k)];
        if (line.entry) {
            answered[size_t(k)] = line.entry.get();
            ++taken;
            if (!store.add(line.text, std::move(line.entry)).inserted) {
                work.runEntries.push_back(std::move(line.entry));
            }
        }
        if (TSerpEntry* entry = answered[size_t(k)]) {
            work.lines.push_back({line.text, entry});
        }
    }
    plan.order.clear();  // taken in once
    return taken;
}

QString baseUrl(const QString& serviceUrl, std::optional<int> regionCode) {
    return serviceUrl + QStringLiteral("&lr=") +
           QString::number(regionCode.value_or(kDefaultRegion));
}

QString fetchErrorText(TYandexError kind, const QString& serviceText, UiLanguage language,
                       const FetchErrorDetail& detail) {
    const Msg inner = kind == yrConnect  ? Msg::NoConnection
                      : kind == yrDomXml ? Msg::NotXml
                                         : Msg::SearchError;
    QString text = messageText(Msg::Error, language, {messageText(inner, language, {serviceText})});
    if (!detail.query.isEmpty()) {
        text += u"\r\n"_qs + messageText(Msg::FailedQuery, language, {detail.query});
    }
    if (detail.httpStatus != 0 && detail.httpStatus != 200) {
        text += u"\r\n"_qs +
                messageText(Msg::HttpStatus, language, {QString::number(detail.httpStatus)});
    }
    return text;
}

QString notServiceUrlText(const QString& url, UiLanguage language) {
    QString begin = QUrl(url).scheme();
    if (begin.isEmpty()) {
        begin = url.section(u'?', 0, 0).left(30);
    }
    return messageText(Msg::NotHttpUrl, language, {begin});
}

bool isServiceUrl(const QString& url) {
    const QUrl u(url, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    return u.isValid() && (scheme == u"http" || scheme == u"https") && !u.host().isEmpty();
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

std::optional<ClusterList> clusterWork(const WorkList& work, const LinkRules& rules,
                                       bool hardMethod, int threshold, GroupingProgress& progress,
                                       const std::function<bool()>& stopRequested) {
    const LinkWork reduced(work, rules);
    return clusterWork(reduced.lines(), hardMethod, threshold, progress, stopRequested);
}

}  // namespace kelvara
