// clustering_bench: times the clustering engine and the cluster assembly on generated data.
//
//   clustering_bench [--queries N] [--seed S] [--soft K,K,..] [--hard K,K,..] [--ratio N]
//                    [--ratio-soft K] [--ratio-hard K] [--no-thread] [--no-assembly]
//                    [--runs R] [--no-warmup] [--links] [--links-no-host] [--links-only K]
//                    [--why N]
//
// Defaults: 1,000,000 queries, seed 1, soft and hard at every threshold 1..10, the speed ratio
// against the line-by-line reference at 20,000 queries (soft 3, hard 4), the assembly of the
// soft result, and the thread checks (progress moves, stop latency). Figures go to stdout.
// --links: the soft k=3 run plain, with ten hosts ignored and matched by host (the engine applies
// the rules), each against the engine on lists reduced beforehand, interleaved R times
// (--links-no-host: without the runs by host; --links-only plain|ignored|reduced|host|host-reduced:
// that one run alone, for an instruction count). --why N: "why together" on an N-query soft k=3
// run, with the link graph made on a thread of its own as the window makes it.

#include "clustering/assembly.h"
#include "clustering/engine.h"
#include "clustering/grouping_thread.h"
#include "clustering/link_graph.h"
#include "clustering/link_rules.h"
#include "datagen.h"
#include "reference_engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace kelvara;

namespace {

// Resident memory in KiB, and its peak since the last reset.
long statusKb(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray text = f.readAll();
    const qsizetype at = text.indexOf(field);
    if (at < 0) {
        return -1;
    }
    return text.mid(at + qsizetype(strlen(field))).trimmed().split(' ').first().toLong();
}
void resetPeak() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) {
        f.write("5");
    }
}

struct Timed {
    double seconds;
    long peakMb;  // peak resident memory above the level before the run
    size_t groups;
    size_t nonEmpty;
};

Timed timeEngine(const WorkList& work, bool hard, int k, const LinkRules& rules = {}) {
    TStringListDynArray groups;
    GroupingProgress progress;
    resetPeak();
    const long before = statusKb("VmRSS:");
    QElapsedTimer t;
    t.start();
    runGrouping(work, groups, hard, k, progress, {}, Collation::program(), rules);
    const double s = double(t.nsecsElapsed()) / 1e9;
    const long peak = statusKb("VmHWM:");
    size_t live = 0;
    for (const auto& g : groups) {
        live += g && g->size() > 1 ? 1 : 0;
    }
    if (progress.FStatus.load() != gsSuccess) {
        std::printf("  (run did not succeed)\n");
    }
    return Timed{s, (peak - before) / 1024, groups.size(), live};
}

// The median time of `runs` runs (and the highest peak).
Timed timeMedian(const WorkList& work, bool hard, int k, int runs) {
    std::vector<Timed> all;
    for (int r = 0; r < runs; ++r) {
        all.push_back(timeEngine(work, hard, k));
    }
    long peak = 0;
    for (const Timed& t : all) {
        peak = std::max(peak, t.peakMb);
    }
    std::sort(all.begin(), all.end(),
              [](const Timed& a, const Timed& b) { return a.seconds < b.seconds; });
    Timed m = all[all.size() / 2];
    m.peakMb = peak;
    return m;
}

std::vector<int> parseList(const QString& s) {
    std::vector<int> out;
    for (const QString& part : s.split(u',', Qt::SkipEmptyParts)) {
        out.push_back(part.toInt());
    }
    return out;
}

void printParams(const datagen::Params& p, const datagen::GeneratedRun& run) {
    qsizetype urls = 0;
    for (const WorkLine& l : run.work) {
        urls += l.entry->Urls.size();
    }
    std::printf(
        "data: %lld queries, seed %llu, mean topic size %.0f, top URL share %.2f, unique share "
        "%.2f, %lld URL occurrences\n",
        qlonglong(p.queries), qulonglong(p.seed), p.meanTopicSize, p.topUrlShare, p.uniqueUrlShare,
        qlonglong(urls));
}

// The most frequent hosts of the run, most frequent first.
QStringList topHosts(const WorkList& work, int count) {
    QHash<QString, qsizetype> seen;
    for (const WorkLine& line : work) {
        for (const auto& u : line.entry->Urls) {
            ++seen[urlHostKey(u.text)];
        }
    }
    std::vector<std::pair<qsizetype, QString>> byCount;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
        byCount.emplace_back(it.value(), it.key());
    }
    std::sort(byCount.begin(), byCount.end(), std::greater<>());
    QStringList out;
    for (size_t i = 0; i < byCount.size() && int(i) < count; ++i) {
        out << byCount[i].second;
    }
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The run under link rules (the engine judges each URL as it reads it) against the plain run and
// against the engine on lists reduced beforehand (untimed), in turns so that the machine's moods
// fall on all alike. The difference to the latter is what applying the rules costs.
void linksBench(const WorkList& work, int runs, bool byHostRuns, const QString& only) {
    const QStringList top = topHosts(work, 10);
    // Five of the busiest hosts by name, five with all their subdomains.
    QString list;
    for (qsizetype i = 0; i < top.size(); ++i) {
        list += (i % 2 ? u"*."_qs : QString()) + top[i] + u'\n';
    }
    const LinkRules ignore{std::make_shared<const HostList>(HostList::parse(list)), false};
    const LinkRules byHost{nullptr, true};
    std::vector<double> plain, ignored, ignoredReduced, copies, host, hostReduced;
    size_t groupsPlain = 0, groupsIgnored = 0, groupsHost = 0;
    if (!only.isEmpty()) {
        // One kind alone, for counting its instructions (valgrind --tool=callgrind
        // --toggle-collect='kelvara::runGrouping*LinkRules*').
        if (only == u"plain"_qs) {
            timeEngine(work, false, 3);
        } else if (only == u"ignored"_qs) {
            timeEngine(work, false, 3, ignore);
        } else if (only == u"reduced"_qs) {
            const LinkWork reduced(work, ignore);
            timeEngine(reduced.lines(), false, 3);
        } else if (only == u"host"_qs) {
            timeEngine(work, false, 3, byHost);
        } else if (only == u"host-reduced"_qs) {
            const LinkWork reduced(work, byHost);
            timeEngine(reduced.lines(), false, 3);
        }
        return;
    }
    for (int r = 0; r < runs; ++r) {
        const Timed p = timeEngine(work, false, 3);
        plain.push_back(p.seconds);
        groupsPlain = p.nonEmpty;
        const Timed i = timeEngine(work, false, 3, ignore);
        ignored.push_back(i.seconds);
        groupsIgnored = i.nonEmpty;
        {
            QElapsedTimer t;
            t.start();
            const LinkWork reduced(work, ignore);
            copies.push_back(double(t.nsecsElapsed()) / 1e9);
            const Timed e = timeEngine(reduced.lines(), false, 3);
            ignoredReduced.push_back(e.seconds);
            if (e.nonEmpty != i.nonEmpty) {
                std::printf("  (the reduced lists gave %zu groups, the rules %zu)\n", e.nonEmpty,
                            i.nonEmpty);
            }
        }
        std::printf(
            "links run %d: plain %.2f s; ten hosts ignored %.2f s (engine on lists reduced "
            "beforehand %.2f s; making those copies %.2f s)",
            r + 1, plain.back(), ignored.back(), ignoredReduced.back(), copies.back());
        if (byHostRuns) {
            const Timed h = timeEngine(work, false, 3, byHost);
            host.push_back(h.seconds);
            groupsHost = h.nonEmpty;
            const LinkWork reduced(work, byHost);
            hostReduced.push_back(timeEngine(reduced.lines(), false, 3).seconds);
            std::printf("; by host %.2f s (on host lists made beforehand %.2f s)", host.back(),
                        hostReduced.back());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    const double p = median(plain);
    std::printf(
        "links, median of %d: plain %.2f s (%zu groups of 2+); ten hosts ignored %.2f s "
        "(%.3fx of the plain run, %zu groups of 2+; the engine on lists reduced beforehand "
        "%.2f s, so applying the rules adds %.3fx of the plain run; making the copies as before "
        "took %.3fx); hosts: %s\n",
        runs, p, groupsPlain, median(ignored), median(ignored) / p, groupsIgnored,
        median(ignoredReduced), (median(ignored) - median(ignoredReduced)) / p, median(copies) / p,
        top.join(u' ').toLocal8Bit().constData());
    if (byHostRuns) {
        // Another clustering (far more pairs share three hosts than three URLs): compared with
        // the engine on host lists made beforehand, the difference is the matching's cost.
        std::printf(
            "by host, median of %d: %.2f s (%zu groups of 2+) against %.2f s on host lists made "
            "beforehand: %.3fx; the matching adds %.3fx of the plain run\n",
            runs, median(host), groupsHost, median(hostReduced), median(host) / median(hostReduced),
            (median(host) - median(hostReduced)) / p);
    }
    std::fflush(stdout);
}

// "Why together" on a soft k=3 run, as the window has it: when the run ends, the phrases of its
// clusters are looked up in the store and their lists copied (on the window's thread), and the
// link graph is made from the copies on a thread of its own; then pairs of phrases of one
// cluster (most far apart in it) are asked. Beside it, the graph made on the asking thread, as
// the first question used to make it.
void whyBench(const datagen::Params& base, qsizetype queries) {
    datagen::Params p = base;
    p.queries = queries;
    const std::vector<datagen::GeneratedQuery> generated = datagen::generateQueries(p);
    const ResultStore store = datagen::buildStore(generated, 0);
    const datagen::GeneratedRun r = datagen::makeRun(generated);
    TStringListDynArray groups;
    GroupingProgress progress;
    QElapsedTimer t;
    t.start();
    runGrouping(r.work, groups, false, 3, progress);
    const double run = double(t.nsecsElapsed()) / 1e6;
    const ClusterList clusters = assembleClusters(groups);
    // The window names each phrase's entry through the run's lines (the store's search, in the
    // user's collation, is timed beside it).
    t.restart();
    QStringList names;
    for (const Cluster& c : clusters) {
        names.append(c.phrases);
    }
    const WorkList phrases = phraseLines(names, &r.work, store);
    const double lookup = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    qsizetype found = 0;
    for (const Cluster& c : clusters) {
        for (const QString& phrase : c.phrases) {
            found += findEntry(store, phrase) ? 1 : 0;
        }
    }
    const double search = double(t.nsecsElapsed()) / 1e6;
    t.restart();
    const LinkGraphBuild made(phrases, LinkRules{}, 3, false);
    const double copy = double(t.nsecsElapsed()) / 1e6;
    QElapsedTimer q;
    q.start();
    const LinkGraph& graph = made.graph();
    const double ready = double(t.nsecsElapsed()) / 1e6;
    const double waited = double(q.nsecsElapsed()) / 1e6;
    t.restart();
    const LinkGraph onTheSpot(r.work, 3, false);
    const double direct = double(t.nsecsElapsed()) / 1e6;
    std::printf(
        "why together at %lld phrases: the run %.0f ms; on the window's thread when it ends: "
        "each phrase's entry through the run's lines %.0f ms (through searches of the store "
        "%.0f ms, %lld found), copying the lists and starting the thread %.0f ms; graph made "
        "%.0f ms after that start (%.0f ms of it waited for here); made on the asking thread "
        "instead: %.0f ms\n",
        qlonglong(queries), run, lookup, search, qlonglong(found), copy, ready, waited, direct);
    std::vector<const QStringList*> big;
    for (const auto& g : groups) {
        if (g && g->size() >= 3) {
            big.push_back(g.get());
        }
    }
    std::sort(big.begin(), big.end(),
              [](const QStringList* a, const QStringList* b) { return a->size() > b->size(); });
    std::vector<double> times;
    size_t longest = 0;
    for (size_t i = 0; i < 300 && !big.empty(); ++i) {
        const QStringList& g = *big[i % std::min<size_t>(big.size(), 30)];
        const QString& a = g[qsizetype(i * 7919) % g.size()];
        const QString& b = g[qsizetype(i * 104729 + 1) % g.size()];
        QElapsedTimer q;
        q.start();
        const WhyTogether w = graph.whyTogether(a, b);
        times.push_back(double(q.nsecsElapsed()) / 1e6);
        longest = std::max(longest, w.chain.size());
    }
    const double first = times.empty() ? 0 : times.front();
    std::sort(times.begin(), times.end());
    std::printf(
        "why together at %lld phrases: the first answer %.2f ms; %zu pairs from the 30 "
        "largest clusters (largest %lld phrases): median %.2f ms, 95th %.2f ms, most "
        "%.2f ms; longest chain %zu links\n",
        qlonglong(queries), first, times.size(), qlonglong(big.empty() ? 0 : big.front()->size()),
        median(times), times.empty() ? 0 : times[times.size() * 95 / 100],
        times.empty() ? 0 : times.back(), longest);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    datagen::Params params;
    params.queries = 1'000'000;
    std::vector<int> softKs = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<int> hardKs = softKs;
    qsizetype ratioQueries = 20'000;
    int ratioSoft = 3;
    int ratioHard = 4;
    bool threadChecks = true;
    bool assembly = true;
    bool warmUp = true;
    int runs = 1;
    bool links = false;
    bool linksByHost = true;
    QString linksOnly;
    qsizetype whyQueries = 0;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString v = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == u"--queries"_qs) {
            params.queries = v.toLongLong();
            ++i;
        } else if (a == u"--seed"_qs) {
            params.seed = v.toULongLong();
            ++i;
        } else if (a == u"--soft"_qs) {
            softKs = parseList(v);
            ++i;
        } else if (a == u"--hard"_qs) {
            hardKs = parseList(v);
            ++i;
        } else if (a == u"--ratio"_qs) {
            ratioQueries = v.toLongLong();
            ++i;
        } else if (a == u"--ratio-soft"_qs) {
            ratioSoft = v.toInt();
            ++i;
        } else if (a == u"--ratio-hard"_qs) {
            ratioHard = v.toInt();
            ++i;
        } else if (a == u"--no-thread"_qs) {
            threadChecks = false;
        } else if (a == u"--no-assembly"_qs) {
            assembly = false;
        } else if (a == u"--no-warmup"_qs) {
            warmUp = false;
        } else if (a == u"--links"_qs) {
            links = true;
        } else if (a == u"--links-no-host"_qs) {
            linksByHost = false;
        } else if (a == u"--links-only"_qs) {
            links = true;
            linksOnly = v;
            ++i;
        } else if (a == u"--why"_qs) {
            whyQueries = v.toLongLong();
            ++i;
        } else if (a == u"--runs"_qs) {
            runs = std::max(1, v.toInt());
            ++i;
        } else {
            std::fprintf(stderr, "unknown option %s\n", a.toLocal8Bit().constData());
            return 2;
        }
    }

    QElapsedTimer gen;
    gen.start();
    const datagen::GeneratedRun run = datagen::generateRun(params);
    std::printf("generated in %.1f s; ", double(gen.elapsed()) / 1000);
    printParams(params, run);
    std::fflush(stdout);

    if (warmUp) {
        // On a virtual machine the first run after the data was made touches memory the host
        // has not handed out yet (or took back): it is timed apart, so that the figures below
        // do not depend on which threshold came first.
        const Timed t = timeEngine(run.work, false, 3);
        std::printf("first run (soft k=3, warm-up): %.2f s\n", t.seconds);
    }
    if (runs > 1) {
        std::printf("median of %d runs each\n", runs);
    }
    for (int k : softKs) {
        const Timed t = timeMedian(run.work, false, k, runs);
        std::printf("soft k=%2d: %6.2f s, peak +%5ld MB, %zu slots, %zu groups of 2+\n", k,
                    t.seconds, t.peakMb, t.groups, t.nonEmpty);
        std::fflush(stdout);
    }
    for (int k : hardKs) {
        const Timed t = timeMedian(run.work, true, k, runs);
        std::printf("hard k=%2d: %6.2f s, peak +%5ld MB, %zu groups, %zu of 2+\n", k, t.seconds,
                    t.peakMb, t.groups, t.nonEmpty);
        std::fflush(stdout);
    }

    if (assembly) {
        TStringListDynArray groups;
        GroupingProgress progress;
        runGrouping(run.work, groups, false, 3, progress);
        qsizetype phrases = 0;
        for (const auto& g : groups) {
            phrases += g ? g->size() : 0;
        }
        QElapsedTimer t;
        t.start();
        const ClusterList clusters = assembleClusters(groups);
        std::printf("assembly of the soft k=3 result: %lld phrases in %zu clusters, %.3f s\n",
                    qlonglong(phrases), clusters.size(), double(t.nsecsElapsed()) / 1e9);
        std::fflush(stdout);
    }

    if (threadChecks) {
        for (bool hard : {false, true}) {
            const int k = hard ? 4 : 3;
            // Progress: the longest time the counter stood still until the main pass ended.
            {
                TStringListDynArray groups;
                QElapsedTimer t;
                t.start();
                TGroupingThread thread(run.work, groups, hard, k);
                std::int32_t last = -1;
                qint64 lastChange = 0;
                qint64 longest = 0;
                qint64 mainPassEnd = -1;
                while (thread.FStatus() != gsSuccess && !thread.isFinished()) {
                    const std::int32_t done = thread.FSuccessIterations();
                    const qint64 now = t.elapsed();
                    if (done != last) {
                        longest = std::max(longest, now - lastChange);
                        last = done;
                        lastChange = now;
                        if (done == thread.FTotalIterations() && mainPassEnd < 0) {
                            mainPassEnd = now;
                        }
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                thread.WaitFor();
                std::printf(
                    "%s k=%d in a thread: main pass done at %.2f s, finished at %.2f s; the "
                    "counter stood still at most %lld ms\n",
                    hard ? "hard" : "soft", k, double(mainPassEnd) / 1000,
                    double(t.elapsed()) / 1000, qlonglong(longest));
            }
            // Stop latency at several moments of the run.
            qint64 worst = 0;
            for (int ms : {50, 300, 700, 1200, 2000, 3000}) {
                TStringListDynArray groups;
                TGroupingThread thread(run.work, groups, hard, k);
                std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                if (thread.isFinished()) {
                    continue;
                }
                QElapsedTimer t;
                t.start();
                thread.Terminate();
                thread.WaitFor();
                const qint64 latency = t.nsecsElapsed() / 1'000'000;
                worst = std::max(worst, latency);
                std::printf("%s k=%d: stop at %d ms obeyed in %lld ms (status %s)\n",
                            hard ? "hard" : "soft", k, ms, qlonglong(latency),
                            thread.FStatus() == gsSuccess ? "success" : "process");
            }
            std::printf("%s k=%d: worst stop latency %lld ms\n", hard ? "hard" : "soft", k,
                        qlonglong(worst));
            std::fflush(stdout);
        }
    }

    if (ratioQueries > 0) {
        datagen::Params small = params;
        small.queries = ratioQueries;
        const datagen::GeneratedRun r = datagen::generateRun(small);
        for (bool hard : {false, true}) {
            const int k = hard ? ratioHard : ratioSoft;
            const Timed fast = timeEngine(r.work, hard, k);
            TStringListDynArray groups;
            GroupingProgress progress;
            QElapsedTimer t;
            t.start();
            test::referenceGrouping(r.work, groups, hard, k, progress);
            const double ref = double(t.nsecsElapsed()) / 1e9;
            std::printf("%s k=%d at %lld queries: reference %.2f s, engine %.4f s, ratio %.0fx\n",
                        hard ? "hard" : "soft", k, qlonglong(ratioQueries), ref, fast.seconds,
                        ref / fast.seconds);
            std::fflush(stdout);
        }
    }
    if (links) {
        linksBench(run.work, runs, linksByHost, linksOnly);
    }
    if (whyQueries > 0) {
        whyBench(params, whyQueries);
    }
    return 0;
}
