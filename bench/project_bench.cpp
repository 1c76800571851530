// Saving and opening a project of N phrases (100,000 by default: generated Cyrillic queries in
// clusters of ten, each with its stored result of up to ten URLs), timed.
//
// Save: the tree out of the model with its checks, each phrase's result out of the store, the
// bytes, the atomic write. Open: the file read and checked whole, its results merged into an
// empty store (another machine, or the cache expired) or into a store that holds them all (the
// same machine), the tree filled with its checks.
//
//   project_bench [--queries N] [--runs R]
#include "datagen.h"

#include "table/project_file.h"
#include "tree/project_tree.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

using namespace kelvara;

namespace {

// The median of `runs` timings of f: wall-clock milliseconds, and the process's CPU milliseconds
// of the same run (the machine is shared: the CPU time says what the work itself costs).
struct Timing {
    double wall = 0;
    double cpu = 0;
};
Timing median(int runs, const std::function<void()>& f) {
    std::vector<Timing> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const std::clock_t cpu = std::clock();
        f();
        t.push_back({double(timer.nsecsElapsed()) / 1e6,
                     double(std::clock() - cpu) * 1000.0 / CLOCKS_PER_SEC});
    }
    std::sort(t.begin(), t.end(), [](const Timing& a, const Timing& b) { return a.wall < b.wall; });
    return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qsizetype n = 100'000;
    int runs = 5;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--queries") {
            n = args[i + 1].toLongLong();
        } else if (args[i] == u"--runs") {
            runs = std::max(1, args[i + 1].toInt());
        }
    }
    datagen::Params params;
    params.queries = n;
    const std::vector<datagen::GeneratedQuery> queries = datagen::generateQueries(params);
    const Stamp stamp = CurrentStamp();
    const ResultStore store = datagen::buildStore(queries, stamp);

    ClusterList tree;
    QStringList box;
    for (size_t i = 0; i < queries.size(); ++i) {
        if (i % 10 == 0) {
            tree.push_back({queries[i].text, {}});
        }
        tree.back().phrases.append(queries[i].text);
        box.append(queries[i].text);
    }
    ClusterTreeModel model;
    model.setResultStore(&store);
    model.fillTree(tree);
    for (int c = 0; c < model.GetClusterCount(); c += 7) {
        model.toggleCheck(model.cluster(c), true);
    }
    const QString queryBox = box.join(u'\n');

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.kelvara"));
    const Timing save = median(runs, [&] {
        Project p;
        p.queries = queryBox;
        p.clusters = projectClusters(model);
        p.results = projectResults(p.clusters, store);
        if (saveProject(path, p)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
    });
    const auto open = [&](const ResultStore* held) {
        return median(runs, [&] {
            ProjectRead read = loadProject(path);
            if (!read.project) {
                std::fprintf(stderr, "the project does not open\n");
                std::exit(1);
            }
            ResultStore target;
            if (held) {
                target = datagen::buildStore(queries, stamp);  // not timed below: see note
            }
            ClusterTreeModel opened;
            mergeProjectResults(target, std::move(read.project->results));
            opened.setResultStore(&target);
            fillTreeFromProject(opened, read.project->clusters);
        });
    };
    const Timing openEmpty = open(nullptr);
    // The same with the store built first inside the timing, less the time of building it alone.
    const Timing build = median(runs, [&] { (void)datagen::buildStore(queries, stamp); });
    Timing openHeld = open(&store);
    openHeld.wall -= build.wall;
    openHeld.cpu -= build.cpu;

    std::printf("project of %lld phrases, %.1f MB (median of %d runs; wall ms, CPU ms)\n",
                static_cast<long long>(n), double(QFileInfo(path).size()) / 1e6, runs);
    std::printf("save (tree, results, bytes, atomic write): %.0f, %.0f\n", save.wall, save.cpu);
    std::printf("open into an empty store (read, check, merge, fill): %.0f, %.0f\n", openEmpty.wall,
                openEmpty.cpu);
    std::printf("open into a store holding every query: %.0f, %.0f\n", openHeld.wall, openHeld.cpu);
    std::printf("limit 2000 ms each: save %.2fx, open %.2fx of it (wall)\n", save.wall / 2000,
                std::max(openEmpty.wall, openHeld.wall) / 2000);
    return 0;
}
