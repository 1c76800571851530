// The import, the export and the whole batch run, timed.
//
// Import: a generated CSV of N queries (100,000 by default, about 1.1 million rows) through the
// query import, against the floor of reading the same file into memory, decoding it and
// splitting it into lines. Export: a tree of N phrases written as the CSV export, against the
// floor of reading that export back and splitting it into lines. Batch: the whole run of
// kelvara-cli on the bundled sample and on the generated set, split by phase.
//
//   table_bench [--queries N] [--runs R] [--sample FILE] [--no-batch]
#include "datagen.h"

#include "core/textfile.h"
#include "run/batch_run.h"
#include "table/csv_export.h"
#include "table/query_import.h"
#include "table/table_string.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kelvara;

namespace {

const AnsiCodec kCodec("windows-1251");

// The median of `runs` timings of f, in milliseconds.
double medianMs(int runs, const std::function<void()>& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        t.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// The floor: the whole file into memory, decoded, cut into lines.
qsizetype readAndSplit(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QString text = kCodec.decode(file.readAll());
    qsizetype n = 0;
    forEachLine(text, [&n](QStringView) { ++n; });
    return n;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

void printRatio(const char* what, double ms, double floorMs) {
    std::printf("  %-34s %9.1f ms   %5.2fx the floor\n", what, ms, ms / floorMs);
}

void batchRun(const char* name, const QString& csv, const QString& out, int runs) {
    BatchOptions o;
    o.source = BatchOptions::Source::Import;
    o.inputPath = csv;
    o.codePage = "windows-1251";
    o.language = UiLanguage::Russian;
    o.outputPath = out;
    o.quiet = true;
    const QString cache = QFileInfo(out).dir().filePath(QStringLiteral("bench-cache.txt"));
    for (const bool hard : {false, true}) {
        o.hardMethod = hard;
        o.threshold = hard ? 4 : 3;
        for (const bool withCache : {false, true}) {
            // With a cache: the first run writes it; the timed runs read it back, import the
            // same queries (all held already) and save it again.
            QFile::remove(cache);
            if (withCache) {
                o.cachePath = cache;
                BatchEnvironment env;
                runBatch(o, env);
            } else {
                o.cachePath.reset();
            }
            std::vector<BatchTimes> times;
            int exitCode = 0;
            for (int i = 0; i < runs; ++i) {
                BatchEnvironment env;
                const BatchReport r = runBatch(o, env);
                exitCode = std::max(exitCode, r.exitCode);
                times.push_back(r.times);
            }
            std::sort(times.begin(), times.end(), [](const BatchTimes& a, const BatchTimes& b) {
                return a.total() < b.total();
            });
            const BatchTimes& t = times[times.size() / 2];
            std::printf(
                "  %-7s %s %-9s load %6.1f  import %7.1f  work list %5.1f  cluster %6.1f  "
                "assemble %5.1f  export %6.1f  save %6.1f  total %7.1f%s\n",
                name, hard ? "hard 4" : "soft 3", withCache ? "cache" : "no cache", t.load,
                t.import, t.fetch, t.cluster, t.assemble, t.exportCsv, t.save, t.total(),
                exitCode ? "  (FAILED)" : "");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qsizetype queries = 100'000;
    int runs = 5;
    QString sample =
        QCoreApplication::applicationDirPath() + QStringLiteral("/samples/queries-ru.csv");
    bool batch = true;
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(u"--no-batch"_qs)) {
        batch = false;
    }
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == u"--queries") {
            queries = args[i + 1].toLongLong();
        } else if (args[i] == u"--runs") {
            runs = std::max(1, args[i + 1].toInt());
        } else if (args[i] == u"--sample") {
            sample = args[i + 1];
        }
    }

    QTemporaryDir dir;
    datagen::Params params;
    params.queries = queries;
    params.seed = 7;
    const std::vector<datagen::GeneratedQuery> generated = datagen::generateQueries(params);
    const QString csv = dir.filePath(QStringLiteral("import.csv"));
    writeFile(csv, datagen::importFile(generated));
    qsizetype rows = 0;
    for (const auto& q : generated) {
        rows += 1 + q.urls.size();
    }
    std::printf("Import of %lld queries, %lld rows, %.1f MB\n", qlonglong(queries),
                qlonglong(rows + 1), double(QFileInfo(csv).size()) / 1e6);

    const double importFloor = medianMs(runs, [&] { readAndSplit(csv); });
    std::printf("  %-34s %9.1f ms\n", "floor: read, decode, split lines", importFloor);
    const double parse = medianMs(runs, [&] {
        TTableString t;
        t.SetCellDelimeter(QStringLiteral(";"));
        (void)t.LoadFromFile(csv, kCodec);
    });
    printRatio("table only (LoadFromFile)", parse, importFloor);
    const StampClock clock = systemClock();
    const double import = medianMs(runs, [&] {
        ResultStore store;
        const ImportResult r = ImportCsv(csv, store, clock, kCodec);
        if (r.lines.size() != queries) {
            std::fprintf(stderr, "import gave %lld lines\n", qlonglong(r.lines.size()));
        }
    });
    printRatio("ImportCsv into an empty store", import, importFloor);
    ResultStore held;
    ImportCsv(csv, held, clock, kCodec);
    const double importHeld = medianMs(runs, [&] {
        ImportCsv(csv, held, clock, kCodec);  // every query held already
    });
    printRatio("ImportCsv, every query held", importHeld, importFloor);

    // The export: the generated queries in clusters of ten.
    const ResultStore store = datagen::buildStore(generated, CurrentStamp());
    ClusterList clusters;
    for (size_t i = 0; i < generated.size(); ++i) {
        if (i % 10 == 0) {
            clusters.push_back({generated[i].text, {}});
        }
        clusters.back().phrases.append(generated[i].text);
    }
    const QString exported = dir.filePath(QStringLiteral("grouped.csv"));
    (void)ExportCsv(exported, clusters, store, UiLanguage::Russian, kCodec);
    std::printf("Export of %lld phrases, %.1f MB\n", qlonglong(queries),
                double(QFileInfo(exported).size()) / 1e6);
    const double exportFloor = medianMs(runs, [&] { readAndSplit(exported); });
    std::printf("  %-34s %9.1f ms\n", "floor: read, decode, split lines", exportFloor);
    const double exportMs = medianMs(runs, [&] {
        if (ExportCsv(exported, clusters, store, UiLanguage::Russian, kCodec)) {
            std::fprintf(stderr, "export failed\n");
        }
    });
    printRatio("ExportCsv (text, encode, write)", exportMs, exportFloor);

    if (!batch) {
        return 0;
    }
    std::printf("Batch run (kelvara-cli --import), median of %d, ms per phase\n", runs);
    if (QFileInfo::exists(sample)) {
        batchRun("sample", sample, dir.filePath(QStringLiteral("out-sample.csv")), runs);
    } else {
        std::printf("  (no sample at %s)\n", qPrintable(sample));
    }
    batchRun(qPrintable(QStringLiteral("%1k").arg(queries / 1000)), csv,
             dir.filePath(QStringLiteral("out-big.csv")), std::min(runs, 3));
    return 0;
}
