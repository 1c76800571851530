#pragma once

// Realistic clustering input: Russian queries in topical clusters with top-10 result URLs.
//
// Queries come in topics of heavy-tailed size; the queries of one topic draw most of their URLs
// from the topic's own pool (a few pages that most of the topic shows, more that only some show),
// a few from a global pool of popular pages whose popularity falls off as a power law (the most
// popular page stands in a set share of all lists), and the rest are pages no other query shows.
// Everything is decided by the seed.

#include "core/platform.h"
#include "core/serp_entry.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

namespace kelvara::datagen {

struct Params {
    qsizetype queries = 10'000;
    std::uint64_t seed = 1;

    double meanTopicSize = 12.0;  // queries per topic, on average (sizes are heavy-tailed)
    int maxTopicSize = 3000;
    int urlsPerQuery = 10;
    double fullListShare = 0.92;  // lists with urlsPerQuery URLs; the rest have 0..urlsPerQuery-1
    double topUrlShare = 0.07;    // share of lists holding the most popular page
    double uniqueUrlShare =
        0.3;  // share of the topic's URL slots taken by pages of this query only

    // Irregular work-list lines, as shares of the queries (0 for plain data). They affect
    // generateRun() only; the files hold the plain queries.
    double repeatSameEntry = 0;   // the query again, answered from the cache (one shared entry)
    double repeatNewEntry = 0;    // the query again, fetched twice in one run (an entry of its own)
    double caseVariantLines = 0;  // a repeat in other letter case (shared or own entry)
    double caseVariantUrls = 0;   // a popular or topic URL written in other letter case
    int emptyQueries = 0;         // lines with the empty query text
    bool shuffle = true;          // work-list order: shuffled (else topic by topic)
};

struct GeneratedQuery {
    QString text;
    QStringList urls;  // in the order the service would list them
};

// The plain queries: unique texts (ignoring letter case), their URL lists.
std::vector<GeneratedQuery> generateQueries(const Params& params);

// A clustering run in memory: the entries (owned here) and the work list that refers to them,
// with the irregular lines that the parameters ask for.
struct GeneratedRun {
    std::vector<std::unique_ptr<TSerpEntry>> entries;
    WorkList work;
};
GeneratedRun generateRun(const Params& params, Stamp stamp = 0);
GeneratedRun makeRun(const std::vector<GeneratedQuery>& queries, Stamp stamp = 0);

// A result store holding every query (built in bulk: sorted first, then appended).
ResultStore buildStore(const std::vector<GeneratedQuery>& queries, Stamp stamp);

// File bodies. `import`: the CSV import format (header "Запрос;URL [Yandex]", a row "query;" per
// query and a row ";url" per URL, CR LF, windows-1251). `queries`: one query per line, UTF-8 with a
// byte-order mark (unless bom is false), CR LF. `cache`: cache.txt lines "stamp;query;url;..." in
// windows-1251, CR LF, every stamp `stamp`.
QByteArray importFile(const std::vector<GeneratedQuery>& queries);
QByteArray queriesFile(const std::vector<GeneratedQuery>& queries, bool bom = true);
QByteArray cacheFile(const std::vector<GeneratedQuery>& queries, Stamp stamp);

// Figures about a data set, for the benchmark notes.
struct Stats {
    qsizetype queries = 0;
    qsizetype urlOccurrences = 0;
    qsizetype distinctUrls = 0;
    qsizetype sharedUrls = 0;       // held by two or more queries
    double fullLists = 0;           // share of lists with urlsPerQuery URLs
    double topUrlShare = 0;         // share of lists holding the most popular URL
    double meanSharedPerQuery = 0;  // URLs per query that another query also has
};
Stats describe(const std::vector<GeneratedQuery>& queries, int urlsPerQuery = 10);

}  // namespace kelvara::datagen
