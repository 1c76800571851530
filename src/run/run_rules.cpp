#include "run/run_rules.h"

#include "clustering/assembly.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/window_rules.h"

#include <QHash>

#include <QUrl>
#include <algorithm>
#include <cmath>

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
    QString innerText;
    switch (kind) {
        case yrConnect:
            innerText = messageText(Msg::NoConnection, language);
            break;
        case yrDomXml:
            innerText = messageText(Msg::NotXml, language);
            break;
        case yrMessage:
            innerText = messageText(Msg::SearchError, language, {serviceText});
            break;
        case yrDailyLimit:
            innerText = messageText(Msg::DailyLimit, language);
            break;
        case yrRefused:
            innerText =
                messageText(Msg::RequestRefused, language,
                            {detail.serviceCode ? QString::number(detail.serviceCode)
                                                : u"HTTP "_qs + QString::number(detail.httpStatus),
                             serviceText});
            break;
        case yrThrottled:
            innerText =
                messageText(Msg::Throttled, language,
                            {QString::number(double(detail.throttleGiveUpMs) / 60'000.0, 'g', 3)});
            break;
    }
    QString text = messageText(Msg::Error, language, {innerText});
    if (!detail.query.isEmpty()) {
        text += u"\r\n"_qs + messageText(Msg::FailedQuery, language, {detail.query});
    }
    if (detail.httpStatus != 0 && detail.httpStatus != 200) {
        text += u"\r\n"_qs +
                messageText(Msg::HttpStatus, language, {QString::number(detail.httpStatus)});
    }
    return text;
}

QString skippedQueriesText(const std::vector<SkippedQuery>& skipped, UiLanguage language) {
    if (skipped.empty()) {
        return {};
    }
    QString text = messageText(Msg::SkippedQueries, language, {QString::number(skipped.size())});
    for (const SkippedQuery& q : skipped) {
        text += u"\r\n"_qs + messageText(Msg::SkippedQuery, language,
                                         {q.query, QString::number(q.code), q.text});
    }
    return text;
}

double fetchPlanSeconds(qsizetype toAsk, int threads, double maxRps) {
    double rate = std::max(threads, 1) / kAssumedRoundTripS;
    if (maxRps > 0) {
        rate = std::min(rate, maxRps);
    }
    return double(toAsk) / rate;
}

QString durationText(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 0);
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    const QString mmss =
        QStringLiteral("%1:%2")
            .arg(h > 0 ? QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')) : QString::number(m))
            .arg(s, 2, 10, QLatin1Char('0'));
    return h > 0 ? QString::number(h) + u':' + mmss : mmss;
}

QString fetchPlanText(qsizetype toAsk, qsizetype fromCache, int threads, double maxRps,
                      double pricePer1000, UiLanguage language) {
    QString text =
        messageText(Msg::FetchPlan, language,
                    {QString::number(toAsk), QString::number(fromCache),
                     durationText(qint64(std::ceil(fetchPlanSeconds(toAsk, threads, maxRps))))});
    if (pricePer1000 > 0) {
        text +=
            u' ' + messageText(Msg::FetchCost, language,
                               {QString::number(double(toAsk) * pricePer1000 / 1000.0, 'f', 2)});
    }
    return text;
}

QString fetchFiguresText(int done, int total, qint64 elapsedMs, int retries, int slowDowns,
                         UiLanguage language) {
    const double rate = elapsedMs > 0 ? double(done) * 1000.0 / double(elapsedMs) : 0;
    const QString left =
        rate > 0 ? durationText(qint64(std::ceil(double(total - done) / rate))) : u"?"_qs;
    return messageText(Msg::FetchFigures, language,
                       {QString::number(rate, 'f', 1), left, QString::number(retries),
                        QString::number(slowDowns)});
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
    TStringListDynArray groups;
    runGrouping(work, groups, hardMethod, threshold, progress, stopRequested, Collation::program(),
                rules);
    if (progress.FStatus.load() != gsSuccess) {
        return std::nullopt;
    }
    return assembleClusters(groups);
}

}  // namespace kelvara
