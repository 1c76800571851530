#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "search/yandex_worker.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelvara {

// The job of kelvara-cli: the window's run without windows. Read the queries (a text file, one
// per line, or the query import of a CSV file), use the cache, fetch what has no fresh result,
// cluster, assemble, write the export and save the cache.

struct BatchOptions {
    enum class Source { Queries, Import };
    Source source = Source::Queries;
    QString inputPath;
    bool hardMethod = false;
    int threshold = 3;
    std::optional<QString> cachePath;  // none: --no-cache
    QString serviceUrl;                // empty: nothing can be fetched
    int region = 213;
    QString outputPath;  // empty or "-": standard output
    UiLanguage language = UiLanguage::English;
    QByteArray codePage = "windows-1252";
    bool quiet = false;    // no progress lines
    bool timings = false;  // a last line with the time of each phase
};

// The defaults that come from the system: the cache beside the program, the interface language,
// the ANSI code page.
struct BatchDefaults {
    QString cachePath;
    UiLanguage language = UiLanguage::English;
    QByteArray codePage = "windows-1252";
    static BatchDefaults system();
};

struct ParsedArguments {
    std::optional<BatchOptions> options;  // set when the arguments make a run
    bool help = false;                    // --help: print batchUsage() and succeed
    bool version = false;                 // --version
    QString error;                        // bad arguments: why
};
// The arguments after the program name.
ParsedArguments parseBatchArguments(const QStringList& arguments, const BatchDefaults& defaults);
QString batchUsage();

// What a fetch of the missing results is given.
struct BatchFetchRequest {
    const QStringList& lines;  // the run's lines, in order
    QString baseUrl;           // service URL + "&lr=" + region code
    QByteArray codePage;       // the queries pass through it on their way into the request
    StampClock clock;
    std::function<void(int done, int total)> progress;  // may be called as it goes
};

// What it gives back (the search worker, synchronously).
struct BatchFetchResult {
    bool ok = true;
    // When !ok: the error kind and, with yrMessage, the service's own text; shown as the window
    // shows it (message 13 around message 14, 15 or 16).
    TYandexError error = yrConnect;
    QString errorText;
    int asked = 0;  // queries that had to be fetched
    int answered = 0;
    // The run's work list as the window builds it: the queries with a fresh stored result in
    // query order, then the fetched ones in query order. Entries are the store's, or runEntries'
    // for a second spelling of a query fetched twice.
    WorkList workList;
    std::vector<std::unique_ptr<TSerpEntry>> runEntries;
};
// Fetches every line without a fresh stored result and puts the answers into the store, also
// those answered before an error.
using BatchFetcher =
    std::function<BatchFetchResult(ResultStore& store, const BatchFetchRequest& request)>;

// The search worker as the batch run's fetch: the same requests, retries and errors as the
// window's run. The context's transport is used; its code page, clock and progress are the run's.
BatchFetcher serviceFetcher(SearchContext context);

// Everything a run takes from outside, so that tests can drive it.
struct BatchEnvironment {
    StampClock clock = systemClock();
    BatchFetcher fetch;                            // empty: no way to fetch
    std::function<bool(QByteArrayView)> writeOut;  // standard output; false when writing failed
    std::function<void(const QString&)> writeErr;  // one line of standard error, without "\n"
};

enum BatchExit : int { beSuccess = 0, beRunFailed = 1, beBadInput = 2 };

// The time of each phase in milliseconds.
struct BatchTimes {
    double load = 0, import = 0, fetch = 0, cluster = 0, assemble = 0, exportCsv = 0, save = 0;
    double total() const { return load + import + fetch + cluster + assemble + exportCsv + save; }
};

struct BatchReport {
    int exitCode = beSuccess;
    BatchTimes times;
    qsizetype queries = 0;   // lines of the run
    qsizetype clusters = 0;  // clusters of the tree, the unsorted bucket included
    bool exportUtf8 = false;
};

BatchReport runBatch(const BatchOptions& options, const BatchEnvironment& environment);

// The whole program: arguments to exit status.
int batchMain(const QStringList& arguments, const BatchDefaults& defaults,
              const BatchEnvironment& environment);

}  // namespace kelvara
