#pragma once

#include "core/platform.h"
#include "core/serp_entry.h"
#include "run/fetch.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <atomic>
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
    // The region whose results a cache file of an older version holds (it kept one region's):
    // the region of the window's settings.ini beside the program, 213 without one.
    int cacheRegion = 213;
    QString outputPath;   // empty or "-": standard output
    QString projectPath;  // also save the result as a project there; empty: no project
    UiLanguage language = UiLanguage::English;
    QByteArray codePage = "windows-1252";
    // --codepage named it: input files without a byte-order mark are read in it, never guessed to
    // be UTF-8, and the standard output gets the CSV in it even on a terminal.
    bool codePageGiven = false;
    bool quiet = false;                      // no progress lines
    bool timings = false;                    // a last line with the time of each phase
    std::optional<QString> ignoreHostsPath;  // hosts left out of the clustering
    bool matchByHost = false;                // results compared by host, not by whole URL
    int threads = 1;                         // requests in flight at once
    double maxRps = 0;                       // the pace of all requests together; 0: none
    double pricePer1000 = 0;                 // with the plan when set
    bool dryRun = false;                     // print the plan of the fetch and stop before it
    bool deferred = false;                   // deferred requests (a REST URL only)
    QString operationsUrl;                   // where the operations are asked for
    QString operationsPath;  // the file of the operations; empty: kept in memory only
};

// The defaults that come from the system: the cache beside the program, the interface language,
// the ANSI code page.
struct BatchDefaults {
    QString cachePath;
    int cacheRegion = 213;
    UiLanguage language = UiLanguage::English;
    QByteArray codePage = "windows-1252";
    // Threads, MaxRps and PricePer1000 of settings.ini beside the program; flags override them.
    int threads = 1;
    double maxRps = 0;
    double pricePer1000 = 0;
    bool deferred = false;
    QString operationsUrl = QStringLiteral("https://operation.api.cloud.yandex.net");
    QString operationsPath;  // operations.txt beside the program
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

// Everything a run takes from outside, so that tests can drive it.
struct BatchEnvironment {
    StampClock clock = systemClock();
    Fetcher fetch;  // empty: no way to fetch
    // Set (by a signal handler, say) to stop the run as the window's cancel does: the request in
    // flight is aborted, what was answered is kept and saved, and the run ends with beStopped.
    const std::atomic<bool>* stop = nullptr;
    int saveIntervalMs = 60'000;  // how often a long fetch saves what has arrived
    qint64 throttleGiveUpMs = 0;  // refused as "too many" this long: the run ends; 0: 10 minutes
    std::function<bool(QByteArrayView)> writeOut;  // standard output; false when writing failed
    // The standard output is a terminal: without --output and --codepage a person reads it, so it
    // gets a short summary in UTF-8 instead of the CSV.
    bool outputIsTerminal = false;
    std::function<void(const QString&)> writeErr;  // one line of standard error, without "\n"
};

enum BatchExit : int { beSuccess = 0, beRunFailed = 1, beBadInput = 2, beStopped = 130 };

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
