#include "run/batch_run.h"

#include "clustering/assembly.h"
#include "clustering/engine.h"
#include "core/codepage.h"
#include "core/messages.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "core/textfile.h"
#include "core/window_rules.h"
#include "run/cache_saver.h"
#include "run/fetch.h"
#include "run/run_rules.h"
#include "search/cache.h"
#include "search/rest_form.h"
#include "table/csv_export.h"
#include "table/project_file.h"
#include "table/query_import.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHash>

#include <algorithm>
#include <chrono>
#include <future>

namespace kelvara {

namespace {

const QString kProgram = QStringLiteral("kelvara-cli");

QString quoted(const QString& s) {
    return QStringLiteral("\"%1\"").arg(s);
}

// Reads a whole file that must be there.
std::optional<FileError> readInput(const QString& path, QByteArray* bytes) {
    ReadResult r = readWholeFile(path);
    if (r.error) {
        return r.error;
    }
    if (r.missing) {
        return FileError{path, QStringLiteral("No such file or directory"), QStringLiteral("read")};
    }
    *bytes = std::move(r.bytes);
    return std::nullopt;
}

// For QString::arg with several texts at once: chained arg() calls would read a "%2" inside a
// file name or a query as the place for the next value.
QString num(qsizetype n) {
    return QString::number(n);
}

bool parseInt(const QString& text, int* value) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (ok && !text.startsWith(u'+') && !text.contains(u' ')) {
        *value = v;
        return true;
    }
    return false;
}

class Run {
public:
    Run(const BatchOptions& o, const BatchEnvironment& env)
        : options_(o), env_(env), codec_(o.codePage) {}

    BatchReport go() {
        report_.exitCode = steps();
        if (options_.timings) {
            const BatchTimes& t = report_.times;
            say(QStringLiteral("timings (ms): load %1, import %2, fetch %3, cluster %4, assemble "
                               "%5, export %6, save %7, total %8")
                    .arg(ms(t.load), ms(t.import), ms(t.fetch), ms(t.cluster), ms(t.assemble),
                         ms(t.exportCsv), ms(t.save), ms(t.total())),
                true);
        }
        return report_;
    }

private:
    static QString ms(double v) { return QString::number(v, 'f', 1); }

    void say(const QString& line, bool always = false) const {
        if ((always || !options_.quiet) && env_.writeErr) {
            env_.writeErr(line);
        }
    }
    void progress(const QString& what) const { say(QStringLiteral("%1: %2").arg(kProgram, what)); }
    int fail(int code, const QString& message) const {
        say(QStringLiteral("%1: %2").arg(kProgram, message), true);
        return code;
    }
    // Milliseconds since the timer started, and restarts it.
    double lap() {
        const double v = double(timer_.nsecsElapsed()) / 1e6;
        timer_.restart();
        return v;
    }

    int steps() {
        timer_.start();
        if (int code = loadLinkRules()) {
            return code;
        }
        if (int code = load()) {
            return code;
        }
        if (options_.source == BatchOptions::Source::Import) {
            if (int code = import()) {
                return code;
            }
        }
        report_.queries = lines_.size();
        // From here the store may change: it is saved whatever happens next.
        const int code = stopped() ? stoppedExit() : clusterAndExport();
        // A dry run changes nothing on disk.
        const int saved = options_.dryRun ? 0 : save();
        return code ? code : saved;
    }

    int loadLinkRules() {
        links_.byHost = options_.matchByHost;
        if (!options_.ignoreHostsPath) {
            return 0;
        }
        const QString& path = *options_.ignoreHostsPath;
        HostListFile file = loadHostList(path, codec_);
        if (file.error) {
            return fail(beBadInput, file.error->message());
        }
        if (file.missing) {
            return fail(beBadInput,
                        QStringLiteral("the host list %1 does not exist").arg(quoted(path)));
        }
        if (file.problemCount > 0) {
            say(hostListProblemText(file, path, options_.language), true);
        }
        progress(QStringLiteral("%1 hosts left out of the clustering").arg(file.list.size()));
        links_.ignored = std::make_shared<const HostList>(std::move(file.list));
        return 0;
    }

    int load() {
        if (options_.cachePath) {
            const qsizetype before = stores_.entryCount();
            if (std::optional<FileError> e = LoadCache(stores_, *options_.cachePath, env_.clock(),
                                                       codec_, options_.cacheRegion)) {
                return fail(beBadInput, e->message());
            }
            progress(QStringLiteral("%1 fresh stored results from %2")
                         .arg(stores_.entryCount() - before)
                         .arg(quoted(*options_.cachePath)));
        }
        if (options_.source == BatchOptions::Source::Queries) {
            QByteArray bytes;
            if (std::optional<FileError> e = readInput(options_.inputPath, &bytes)) {
                return fail(beBadInput, e->message());
            }
            // As the query box holds them: every line unchanged, no empty line after the last
            // line break.
            lines_ =
                splitLines(options_.codePageGiven ? decodeTextFile(bytes, codec_)
                                                  : decodeTextFileDetectingUtf8(bytes, codec_));
            lines_.removeIf(isBlankQuery);
            if (lines_.isEmpty()) {
                return fail(
                    beBadInput,
                    QStringLiteral("the file %1 holds no query").arg(quoted(options_.inputPath)));
            }
            progress(QStringLiteral("%1 queries from %2")
                         .arg(lines_.size())
                         .arg(quoted(options_.inputPath)));
        }
        report_.times.load = lap();
        return 0;
    }

    int import() {
        const ImportResult r =
            ImportCsv(options_.inputPath, store(), env_.clock, codec_,
                      options_.codePageGiven ? ImportEncoding::CodePage : ImportEncoding::Detect);
        report_.times.import = lap();
        if (r.status == ImportStatus::FileFailed && r.error) {
            return fail(beBadInput, r.error->message());
        }
        if (r.lines.isEmpty()) {
            return fail(beBadInput, QStringLiteral("nothing to import from %1: %2")
                                        .arg(quoted(options_.inputPath), importProblem(r)));
        }
        lines_ = r.lines;
        progress(QStringLiteral("imported %1 queries from %2 (%3 new with %4 URLs, %5 already "
                                "stored)")
                     .arg(num(r.lines.size()), quoted(options_.inputPath), num(r.added),
                          num(r.urls), num(r.kept)));
        return 0;
    }

    bool stopped() const { return env_.stop && env_.stop->load(std::memory_order_relaxed); }
    int stoppedExit() {
        return fail(beStopped, QStringLiteral("stopped; what was fetched is kept"));
    }

    // The work of the run: the lines with a fresh stored result at once, then the fetched ones.
    int buildWorkList() {
        RunPlan plan = planRun(store(), lines_, env_.clock(), work_);
        if (plan.toFetch.empty()) {
            if (options_.dryRun) {
                progress(fetchPlanText(0, qsizetype(work_.lines.size()), options_.threads,
                                       options_.maxRps, options_.pricePer1000,
                                       UiLanguage::English));
            }
            return 0;
        }
        const qsizetype missing = qsizetype(plan.toFetch.size());
        if (!env_.fetch || options_.serviceUrl.isEmpty()) {
            const QString why =
                options_.serviceUrl.isEmpty()
                    ? QStringLiteral("give the service URL with --url to fetch them")
                    : QStringLiteral("this build of %1 cannot fetch from the service")
                          .arg(kProgram);
            return fail(
                beRunFailed,
                QStringLiteral("%1 of %2 queries have no fresh stored result, the first "
                               "%3 (query %4); %5")
                    .arg(num(missing), num(lines_.size()), quoted(lines_[plan.firstMissing]),
                         num(plan.firstMissing + 1), why));
        }
        progress(fetchPlanText(missing, qsizetype(work_.lines.size()), options_.threads,
                               options_.maxRps, options_.pricePer1000, UiLanguage::English));
        if (options_.dryRun) {
            return 0;
        }
        progress(QStringLiteral("fetching %1 queries").arg(missing));
        QElapsedTimer shown;
        shown.start();
        QElapsedTimer sinceStart;
        sinceStart.start();
        QElapsedTimer sinceSave;
        sinceSave.start();
        CacheSaver saver(options_.cachePath.value_or(QString()));
        FetchCounters counters;
        FetchRequest request;
        request.baseUrl = baseUrl(options_.serviceUrl, options_.region);
        request.codePage = options_.codePage;
        request.clock = env_.clock;
        request.stop = env_.stop;
        request.threads = options_.threads;
        request.maxRps = options_.maxRps;
        request.throttleGiveUpMs = env_.throttleGiveUpMs;
        request.counters = &counters;
        if (options_.deferred) {
            request.deferred = true;
            request.operationsUrl = options_.operationsUrl;
            request.operations = std::make_shared<OperationStore>(options_.operationsPath);
            request.operations->load();
        }
        // What arrived since the last save; the slots call this one at a time.
        CacheSaver::Arrivals arrived{options_.region, {}};
        request.answered = [&](size_t index) {
            const FetchLine& line = plan.toFetch[index];
            if (options_.cachePath && line.entry) {
                arrived.entries.emplace_back(line.text, *line.entry);
            }
        };
        // On a slot's thread, right after a line was answered (never two at once).
        request.progress = [&](int done, int total) {
            const int skipped = counters.skipped.load();
            if (done + skipped > 0 && (shown.elapsed() >= 1000 || done + skipped == total)) {
                shown.restart();
                QString line =
                    QStringLiteral("fetched %1 of %2; %3")
                        .arg(num(done + skipped), num(total),
                             fetchFiguresText(done + skipped, total, sinceStart.elapsed(),
                                              counters.retries.load(), counters.slowDowns.load(),
                                              UiLanguage::English));
                if (options_.deferred) {
                    line += u"; "_qs +
                            messageText(Msg::DeferredCount, UiLanguage::English,
                                        {num(counters.sent.load()), num(counters.ready.load()),
                                         num(counters.read.load())});
                }
                progress(line);
            }
            if (options_.cachePath && done > 0 && sinceSave.elapsed() >= env_.saveIntervalMs) {
                // What arrived so far, on disk before the fetch goes on.
                if (std::optional<FileError> e = saver.save(stores_, arrived)) {
                    progress(e->message());
                }
                sinceSave.restart();
            }
        };
        const FetchStatus r = env_.fetch(plan.toFetch, request);
        // Kept whatever happened: what was answered joins the store, and so the saved cache.
        takeFetched(store(), plan, work_);
        if (!r.skipped.empty()) {
            say(skippedQueriesText(r.skipped, options_.language).replace(u"\r\n"_qs, u"\n"_qs),
                true);
        }
        if (r.kind == FetchStatus::Kind::Stopped || stopped()) {
            progress(QStringLiteral("fetched %1 of %2 queries").arg(r.answered).arg(missing));
            return stoppedExit();
        }
        if (r.kind == FetchStatus::Kind::Error) {
            return fail(beRunFailed,
                        fetchErrorText(r.error, r.errorText, options_.language, r.detail));
        }
        progress(QStringLiteral("fetched %1 of %2 queries").arg(r.answered).arg(missing));
        return 0;
    }

    int clusterAndExport() {
        timer_.restart();
        const int built = buildWorkList();
        report_.times.fetch = lap();
        if (built) {
            return built;
        }
        if (options_.dryRun) {
            return 0;
        }

        GroupingProgress state;
        progress(QStringLiteral("clustering %1 queries, %2 method, threshold %3")
                     .arg(work_.lines.size())
                     .arg(options_.hardMethod ? u"hard"_qs : u"soft"_qs)
                     .arg(options_.threshold));
        auto done = std::async(std::launch::async, [&] {
            return clusterWork(work_.lines, links_, options_.hardMethod, options_.threshold, state,
                               [this] { return stopped(); });
        });
        while (done.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            progress(QStringLiteral("clustering: %1 of %2")
                         .arg(state.FSuccessIterations.load())
                         .arg(state.FTotalIterations.load()));
        }
        const std::optional<ClusterList> built_ = done.get();
        report_.times.cluster = lap();
        if (!built_) {
            return stopped() ? stoppedExit()
                             : fail(beRunFailed, QStringLiteral("the clustering did not finish"));
        }
        const ClusterList& clusters = *built_;
        report_.times.assemble = lap();
        report_.clusters = qsizetype(clusters.size());
        const bool bucket = !clusters.empty() && clusters.back().caption == unsortedCaption();
        progress(QStringLiteral("%1 clusters%2")
                     .arg(clusters.size() - (bucket ? 1 : 0))
                     .arg(bucket ? QStringLiteral(" and %1 queries left alone")
                                       .arg(clusters.back().phrases.size())
                                 : QString()));

        const bool toStdout = options_.outputPath.isEmpty() || options_.outputPath == u"-";
        if (env_.outputIsTerminal && options_.outputPath.isEmpty() && !options_.codePageGiven) {
            // A person reads this: a few lines in UTF-8 rather than the raw export.
            if (env_.writeOut && !env_.writeOut(summaryText(clusters).toUtf8())) {
                return fail(beBadInput, QStringLiteral("cannot write the standard output"));
            }
            report_.times.exportCsv = lap();
            return 0;
        }
        // The same bytes as the window's export of the same tree.
        const QByteArray bytes = exportBytes(exportText(clusters, store(), options_.language),
                                             codec_, &report_.exportUtf8);
        if (toStdout) {
            if (env_.writeOut && !env_.writeOut(bytes)) {
                return fail(beBadInput, QStringLiteral("cannot write the standard output"));
            }
        } else if (std::optional<FileError> e = writeBytesAtomically(options_.outputPath, bytes)) {
            return fail(beBadInput, e->message());
        }
        if (!options_.projectPath.isEmpty()) {
            if (int code = saveAsProject(clusters)) {
                return code;
            }
        }
        report_.times.exportCsv = lap();
        progress(QStringLiteral("exported the tree to %1%2")
                     .arg(toStdout ? u"the standard output"_qs : quoted(options_.outputPath),
                          report_.exportUtf8
                              ? QStringLiteral(" in UTF-8 (the code page %1 lacks some of its "
                                               "characters)")
                                    .arg(QString::fromLatin1(options_.codePage))
                              : QString()));
        return 0;
    }

    // The result as the window would save it straight after the run, so that it can be opened
    // there and edited.
    int saveAsProject(const ClusterList& clusters) {
        Project p;
        p.queries = lines_.join(u'\n');
        p.hardMethod = options_.hardMethod;
        p.threshold = options_.threshold;
        p.region = options_.region;
        p.clusters.reserve(clusters.size());
        for (const Cluster& c : clusters) {
            ProjectCluster pc{c.caption, false, {}};
            pc.phrases.reserve(size_t(c.phrases.size()));
            for (const QString& phrase : c.phrases) {
                pc.phrases.push_back(ProjectPhrase{phrase, false});
            }
            p.clusters.push_back(std::move(pc));
        }
        p.results = projectResults(p.clusters, store());
        if (std::optional<FileError> e = saveProject(options_.projectPath, p)) {
            return fail(beBadInput, e->message());
        }
        progress(QStringLiteral("saved the project to %1").arg(quoted(options_.projectPath)));
        return 0;
    }

    // The clusters in brief: the counts, then the largest clusters with their sizes.
    QString summaryText(const ClusterList& clusters) const {
        const UiLanguage lang = options_.language;
        std::vector<const Cluster*> real;
        qsizetype alone = 0;
        qsizetype queries = 0;
        for (const Cluster& c : clusters) {
            queries += c.phrases.size();
            if (c.caption == unsortedCaption()) {
                alone += c.phrases.size();
            } else {
                real.push_back(&c);
            }
        }
        QString text = messageText(Msg::SummaryTotals, lang,
                                   {num(qsizetype(real.size())), num(queries), num(alone)}) +
                       u'\n';
        std::stable_sort(real.begin(), real.end(), [](const Cluster* a, const Cluster* b) {
            return a->phrases.size() > b->phrases.size();
        });
        constexpr size_t kLargest = 10;
        if (!real.empty()) {
            text += GetMessageText(Msg::SummaryLargest, lang) + u'\n';
            for (size_t i = 0; i < std::min(kLargest, real.size()); ++i) {
                text += u"  "_qs +
                        messageText(Msg::SummaryCluster, lang,
                                    {real[i]->caption, num(real[i]->phrases.size())}) +
                        u'\n';
            }
        }
        text += GetMessageText(Msg::SummaryCsvHint, lang) + u'\n';
        return text;
    }

    int save() {
        if (!options_.cachePath) {
            return 0;
        }
        timer_.restart();
        SaveCacheReport r;
        const std::optional<FileError> e = SaveCache(stores_, *options_.cachePath, &r);
        report_.times.save = lap();
        if (e) {
            return fail(beBadInput, e->message());
        }
        progress(
            QStringLiteral("saved %1 results to %2%3")
                .arg(num(r.written), quoted(*options_.cachePath),
                     r.skipped
                         ? QStringLiteral(" (%1 that the file cannot hold left out)").arg(r.skipped)
                         : QString()));
        return 0;
    }

    const BatchOptions& options_;
    const BatchEnvironment& env_;
    AnsiCodec codec_;
    BatchReport report_;
    QElapsedTimer timer_;
    ResultStore& store() { return stores_.of(options_.region); }
    ResultStores stores_;
    QStringList lines_;
    RunWork work_;
    LinkRules links_;
};

}  // namespace

BatchDefaults BatchDefaults::system() {
    BatchDefaults d;
    d.cachePath = executableDir() + QStringLiteral("cache.txt");
    d.operationsPath = executableDir() + QStringLiteral("operations.txt");
    d.language = systemUiLanguage();
    d.codePage = systemAnsiCodePage();
    // Read as the window reads it; a file that cannot be read leaves the default.
    ProfileFile settings(executableDir() + QStringLiteral("settings.ini"), AnsiCodec(d.codePage));
    if (!settings.load()) {
        d.cacheRegion = settingsRegion(settings);
        const FetchSettings fetch = readFetchSettings(settings);
        d.threads = fetch.threads;
        d.maxRps = fetch.maxRps;
        d.pricePer1000 = fetch.pricePer1000;
        d.deferred = fetch.deferred;
        d.operationsUrl = fetch.operationsUrl;
    }
    return d;
}

QString batchUsage() {
    return QStringLiteral(
        "Usage: kelvara-cli (--queries FILE | --import FILE.csv) [options]\n"
        "\n"
        "Clusters search queries by the overlap of their top-10 result URLs and writes the\n"
        "clusters as the window's CSV export.\n"
        "\n"
        "Input (exactly one):\n"
        "  --queries FILE      one query per line, as in the query box\n"
        "  --import FILE.csv   queries with their URLs under a header cell \"URL [Yandex]\"\n"
        "\n"
        "Options:\n"
        "  --method soft|hard  clustering method (default soft)\n"
        "  --threshold K       shared URLs needed, 1 to 10 (default 3 soft, 4 hard)\n"
        "  --cache FILE        stored results, read first and saved at the end\n"
        "                      (default cache.txt beside the program)\n"
        "  --no-cache          neither read nor write a cache\n"
        "  --url URL           the Yandex.XML service URL, for queries without a fresh result\n"
        "  --region CODE       search region (default 213)\n"
        "  --threads N         requests in flight at once, 1 to 50 (default Threads of\n"
        "                      settings.ini, else 1)\n"
        "  --max-rps R         requests per second for all threads together, 0 = no limit\n"
        "                      (default MaxRps of settings.ini, else 0)\n"
        "  --deferred          deferred requests (REST URL only): cheaper, answered in\n"
        "                      minutes; the operations are kept in operations.txt beside\n"
        "                      the program and resumed by the next run\n"
        "  --operations-url U  the operations service (default OperationsUrl of\n"
        "                      settings.ini, else https://operation.api.cloud.yandex.net)\n"
        "  --dry-run           print the plan of the fetch (queries to ask, from the cache,\n"
        "                      time, cost with PricePer1000) and stop before asking\n"
        "  --output FILE       where the export goes; - or none: standard output (on a\n"
        "                      terminal, without --output and --codepage: a summary)\n"
        "  --project FILE      also save the result as a project the window opens (.kelvara)\n"
        "  --lang en|ru        language of the export's texts (default the interface language)\n"
        "  --codepage NAME     code page of the files (default: the ANSI code page, and\n"
        "                      input files that are valid UTF-8 are read as UTF-8)\n"
        "  --ignore-hosts FILE hosts whose URLs are left out of the clustering, one a line\n"
        "  --match-by url|host results are the same when their URLs are equal (default) or\n"
        "                      when their hosts are\n"
        "  --timings           a last line with the time of each phase\n"
        "  --quiet             no progress lines (errors are still shown)\n"
        "  --version           the program's version\n"
        "  --help              this text\n"
        "\n"
        "Exit status: 0 success, 1 the run failed, 2 bad arguments or files, 130 stopped by\n"
        "Ctrl+C or SIGTERM.\n");
}

ParsedArguments parseBatchArguments(const QStringList& arguments, const BatchDefaults& defaults) {
    ParsedArguments out;
    BatchOptions o;
    o.cachePath = defaults.cachePath;
    o.cacheRegion = defaults.cacheRegion;
    o.language = defaults.language;
    o.codePage = defaults.codePage;
    auto error = [&out](const QString& why) {
        out.error = why;
        return out;
    };

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    auto valued = [](const char16_t* name) {
        return QCommandLineOption(QString::fromUtf16(name), QString(), QStringLiteral("value"));
    };
    const QCommandLineOption queriesOpt = valued(u"queries"), importOpt = valued(u"import"),
                             methodOpt = valued(u"method"), thresholdOpt = valued(u"threshold"),
                             cacheOpt = valued(u"cache"), urlOpt = valued(u"url"),
                             regionOpt = valued(u"region"), outputOpt = valued(u"output"),
                             projectOpt = valued(u"project"), langOpt = valued(u"lang"),
                             codepageOpt = valued(u"codepage"), threadsOpt = valued(u"threads"),
                             maxRpsOpt = valued(u"max-rps"),
                             operationsUrlOpt = valued(u"operations-url");
    const QCommandLineOption ignoreHostsOpt = valued(u"ignore-hosts"),
                             matchByOpt = valued(u"match-by");
    const QCommandLineOption noCacheOpt(u"no-cache"_qs), timingsOpt(u"timings"_qs),
        quietOpt(u"quiet"_qs), versionOpt(u"version"_qs), helpOpt(QStringList{u"h"_qs, u"help"_qs}),
        dryRunOpt(u"dry-run"_qs), deferredOpt(u"deferred"_qs);
    const QList<QCommandLineOption> withValue = {
        queriesOpt, importOpt, methodOpt,   thresholdOpt, cacheOpt,   urlOpt,    regionOpt,
        outputOpt,  langOpt,   codepageOpt, projectOpt,   threadsOpt, maxRpsOpt, operationsUrlOpt};
    const QList<QCommandLineOption> linkOpts = {ignoreHostsOpt, matchByOpt};
    parser.addOptions(withValue);
    parser.addOptions(linkOpts);
    parser.addOptions(
        {noCacheOpt, timingsOpt, quietOpt, versionOpt, helpOpt, dryRunOpt, deferredOpt});
    if (!parser.parse(QStringList{kProgram} + arguments)) {
        return error(parser.errorText());
    }
    if (parser.isSet(helpOpt)) {
        out.help = true;
        return out;
    }
    if (parser.isSet(versionOpt)) {
        out.version = true;
        return out;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return error(QStringLiteral("unexpected argument %1")
                         .arg(quoted(parser.positionalArguments().first())));
    }
    for (const QCommandLineOption& option : withValue + linkOpts) {
        if (parser.values(option).size() > 1) {
            return error(QStringLiteral("--%1 is given twice").arg(option.names().first()));
        }
    }
    auto value = [&parser](const QCommandLineOption& option) -> std::optional<QString> {
        return parser.isSet(option) ? std::optional<QString>(parser.value(option)) : std::nullopt;
    };
    const std::optional<QString> queries = value(queriesOpt), import = value(importOpt),
                                 method = value(methodOpt), threshold = value(thresholdOpt),
                                 cache = value(cacheOpt), region = value(regionOpt),
                                 lang = value(langOpt), codepage = value(codepageOpt);
    const bool noCache = parser.isSet(noCacheOpt);
    o.timings = parser.isSet(timingsOpt);
    o.dryRun = parser.isSet(dryRunOpt);
    o.threads = defaults.threads;
    o.maxRps = defaults.maxRps;
    o.pricePer1000 = defaults.pricePer1000;
    o.deferred = defaults.deferred || parser.isSet(deferredOpt);
    o.operationsUrl = value(operationsUrlOpt).value_or(defaults.operationsUrl);
    o.operationsPath = defaults.operationsPath;
    if (o.deferred && !isServiceUrl(o.operationsUrl)) {
        return error(notServiceUrlText(o.operationsUrl, o.language));
    }
    if (const std::optional<QString> threads = value(threadsOpt);
        threads &&
        (!parseInt(*threads, &o.threads) || o.threads < kMinThreads || o.threads > kMaxThreads)) {
        return error(QStringLiteral("--threads is a whole number from 1 to 50, not %1")
                         .arg(quoted(*threads)));
    }
    if (const std::optional<QString> rps = value(maxRpsOpt)) {
        bool ok = false;
        o.maxRps = rps->toDouble(&ok);
        if (!ok || !(o.maxRps >= 0) || o.maxRps > kMaxRpsLimit) {
            return error(QStringLiteral("--max-rps is a number of requests per second, 0 for no "
                                        "limit, not %1")
                             .arg(quoted(*rps)));
        }
    }
    o.quiet = parser.isSet(quietOpt);
    o.serviceUrl = value(urlOpt).value_or(QString());
    o.outputPath = value(outputOpt).value_or(QString());
    if (const std::optional<QString> project = value(projectOpt)) {
        if (project->isEmpty()) {
            return error(QStringLiteral("the --project file name is empty"));
        }
        o.projectPath = *project;
    }

    if (queries.has_value() == import.has_value()) {
        return error(QStringLiteral("give exactly one of --queries FILE and --import FILE.csv"));
    }
    o.source = queries ? BatchOptions::Source::Queries : BatchOptions::Source::Import;
    o.inputPath = queries ? *queries : *import;
    if (o.inputPath.isEmpty()) {
        return error(QStringLiteral("the input file name is empty"));
    }
    if (method) {
        if (*method == u"soft") {
            o.hardMethod = false;
        } else if (*method == u"hard") {
            o.hardMethod = true;
        } else {
            return error(QStringLiteral("--method is soft or hard, not %1").arg(quoted(*method)));
        }
    }
    o.threshold = defaultThreshold(o.hardMethod);
    if (threshold && (!parseInt(*threshold, &o.threshold) || o.threshold < kMinThreshold ||
                      o.threshold > kMaxThreshold)) {
        return error(QStringLiteral("--threshold is a whole number from 1 to 10, not %1")
                         .arg(quoted(*threshold)));
    }
    if (noCache && cache) {
        return error(QStringLiteral("--cache and --no-cache exclude each other"));
    }
    if (noCache) {
        o.cachePath.reset();
    } else if (cache) {
        if (cache->isEmpty()) {
            return error(QStringLiteral("the --cache file name is empty"));
        }
        o.cachePath = *cache;
    }
    if (region && (!parseInt(*region, &o.region) || o.region < 0)) {
        return error(QStringLiteral("--region is a region code, a whole number, not %1")
                         .arg(quoted(*region)));
    }
    if (lang) {
        if (*lang == u"en") {
            o.language = UiLanguage::English;
        } else if (*lang == u"ru") {
            o.language = UiLanguage::Russian;
        } else {
            return error(QStringLiteral("--lang is en or ru, not %1").arg(quoted(*lang)));
        }
    }
    if (const std::optional<QString> hosts = value(ignoreHostsOpt)) {
        if (hosts->isEmpty()) {
            return error(QStringLiteral("the --ignore-hosts file name is empty"));
        }
        o.ignoreHostsPath = *hosts;
    }
    if (const std::optional<QString> matchBy = value(matchByOpt)) {
        if (*matchBy != u"url" && *matchBy != u"host") {
            return error(QStringLiteral("--match-by is url or host, not %1").arg(quoted(*matchBy)));
        }
        o.matchByHost = *matchBy == u"host";
    }
    if (codepage) {
        o.codePage = codepage->toLatin1();
        o.codePageGiven = true;
    }
    // A name the converters do not know would silently read everything as Latin-1.
    if (!codePageKnown(o.codePage)) {
        return error(
            QStringLiteral("unknown code page %1").arg(quoted(QString::fromLatin1(o.codePage))));
    }
    if (!o.serviceUrl.isEmpty() && !isServiceUrl(o.serviceUrl)) {
        return error(notServiceUrlText(o.serviceUrl, o.language));
    }
    if (o.deferred && !o.serviceUrl.isEmpty() && !isRestSearchUrl(o.serviceUrl)) {
        return error(QStringLiteral("--deferred needs the REST form's URL (path /v2/web/search)"));
    }
    out.options = std::move(o);
    return out;
}

BatchReport runBatch(const BatchOptions& options, const BatchEnvironment& environment) {
    return Run(options, environment).go();
}

int batchMain(const QStringList& arguments, const BatchDefaults& defaults,
              const BatchEnvironment& environment) {
    const ParsedArguments parsed = parseBatchArguments(arguments, defaults);
    auto err = [&](const QString& line) {
        if (environment.writeErr) {
            environment.writeErr(line);
        }
    };
    if (parsed.help || parsed.version) {
        const QString text = parsed.help
                                 ? batchUsage()
                                 : QStringLiteral("%1 %2\n").arg(kProgram, GetVersionText(false));
        if (environment.writeOut && !environment.writeOut(text.toUtf8())) {
            return beBadInput;
        }
        return beSuccess;
    }
    if (!parsed.options) {
        err(QStringLiteral("%1: %2").arg(kProgram, parsed.error));
        err(QStringLiteral("Run \"%1 --help\" for the options.").arg(kProgram));
        return beBadInput;
    }
    return runBatch(*parsed.options, environment).exitCode;
}

}  // namespace kelvara
