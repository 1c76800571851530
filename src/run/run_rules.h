#pragma once

#include "clustering/cluster.h"
#include "clustering/engine.h"
#include "clustering/link_rules.h"
#include "core/platform.h"
#include "core/serp_entry.h"
#include "search/yandex_worker.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelvara {

// The rules of a run, once for the window and the batch tool: which lines are served by the store
// and which are asked, how the answers join the store and the run, the request's base URL, the
// error text of a failed fetch, and the clustering of what the run gathered. Plain functions:
// the window drives them from its timer and threads, the batch tool on its own thread.

inline constexpr int kSoftDefaultThreshold = 3;
inline constexpr int kHardDefaultThreshold = 4;
inline constexpr int kMinThreshold = 1;
inline constexpr int kMaxThreshold = 10;

// The threshold a method starts with when the user picks it.
constexpr int defaultThreshold(bool hardMethod) {
    return hardMethod ? kHardDefaultThreshold : kSoftDefaultThreshold;
}

// The lines of one run as they reach the engine: first those with a fresh stored result, in line
// order, then the fetched ones. Each refers to an entry of the store or, for a second spelling of
// a query fetched twice in the run (which the store refuses), to one of runEntries, which serve
// this run only.
struct RunWork {
    WorkList lines;
    std::vector<std::unique_ptr<TSerpEntry>> runEntries;

    void clear() {
        lines.clear();
        runEntries.clear();
    }
};

// What a run must do before it can cluster.
struct RunPlan {
    // The queries to ask, each text once, in the order of their first line.
    FetchList toFetch;
    // Every line without a fresh stored result, in line order: its query's place in toFetch.
    std::vector<qsizetype> order;
    qsizetype firstMissing = -1;  // the index of the first such line among the lines
    qsizetype released = 0;       // stale entries released from the store, to be fetched again
};

// Splits the run's lines: a line whose stored result is younger than seven days joins the work
// at once; a stale entry is released from the store and its line asked again with the others.
// A blank line is left out; a line whose exact text came before is asked once.
RunPlan planRun(ResultStore& store, const QStringList& lines, Stamp now, RunWork& work);

// Takes in what a fetch of the plan returned, whether it finished, failed or was stopped: every
// line whose query was answered, in line order, joins the work, and each answer the store. For a
// query the store knows already (another spelling of a query of this run) the store keeps its
// first answer and the refused entry is kept aside in the work for this run. Returns how many
// answers were taken in.
qsizetype takeFetched(ResultStore& store, RunPlan& plan, RunWork& work);

// The base URL of the run's requests: the configured URL, "&lr=" and the region code.
QString baseUrl(const QString& serviceUrl, std::optional<int> regionCode);

// What else is known of a failed fetch.
struct FetchErrorDetail {
    QString query;        // the query that failed; empty: not known
    int httpStatus = 0;   // the status of its last answer when the service refused it (not 200)
    int serviceCode = 0;  // the code of the service's error element, 0 when none
    qint64 throttleGiveUpMs = 10 * 60 * 1000;  // with yrThrottled: how long it was refused
};

// The text a failed fetch is reported with: message 13 around the text of its kind (14, 15, or
// 16 with the service's own text), then the query that failed and, for a refused request, the
// HTTP status, each on a line of its own.
QString fetchErrorText(TYandexError kind, const QString& serviceText, UiLanguage language,
                       const FetchErrorDetail& detail = {});

// The list of the queries a fetch skipped, with the service's code and words for each; empty
// when none was skipped.
QString skippedQueriesText(const std::vector<SkippedQuery>& skipped, UiLanguage language);

// Above this many requests the window asks before it sends them.
inline constexpr qsizetype kConfirmAbove = 1000;
// A round trip when no pace is set, for the plan's estimate.
inline constexpr double kAssumedRoundTripS = 1.0;

// The plan of a fetch: how many queries are asked, how many come from the cache, how long that
// takes at the pace (maxRps, or one round trip per slot without it) and, with a price, the cost.
QString fetchPlanText(qsizetype toAsk, qsizetype fromCache, int threads, double maxRps,
                      double pricePer1000, UiLanguage language);
double fetchPlanSeconds(qsizetype toAsk, int threads, double maxRps);
// "1:02:03" or "2:03".
QString durationText(qint64 seconds);
// The running figures of a fetch: rate, time left, retries and slow-downs.
QString fetchFiguresText(int done, int total, qint64 elapsedMs, int retries, int slowDowns,
                         UiLanguage language);

// The service URL can be asked: an http or https address.
bool isServiceUrl(const QString& url);
// Why a URL that is not one is refused, without its query part (which holds the key).
QString notServiceUrlText(const QString& url, UiLanguage language);

// The clustering step on the calling thread: the groups of the work and the clusters assembled
// from them, bucket last. None when a stop request ended it early.
std::optional<ClusterList> clusterWork(const WorkList& work, bool hardMethod, int threshold,
                                       GroupingProgress& progress,
                                       const std::function<bool()>& stopRequested = {});
// The same under link rules: the engine runs on the work's lists as the rules reduce them.
std::optional<ClusterList> clusterWork(const WorkList& work, const LinkRules& rules,
                                       bool hardMethod, int threshold, GroupingProgress& progress,
                                       const std::function<bool()>& stopRequested = {});

}  // namespace kelvara
