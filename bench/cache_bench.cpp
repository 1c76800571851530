// cache.txt of 100,000 queries with 10 URLs each (about 60 MB): LoadCache and SaveCache against
// the floor of reading the same file into memory and splitting it into lines.
#include "core/textfile.h"
#include "search/cache.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

using namespace kelvara;

namespace {

const Stamp kNow = stampFromLocal(QDate(2026, 12, 9), 0);
const AnsiCodec kCodec("windows-1251");

struct Fixture {
    QTemporaryDir dir;
    QString path;
    ResultStore store;
    Fixture() {
        path = dir.filePath(QStringLiteral("cache.txt"));
        const QStringList words = {u"купить"_qs, u"кофе"_qs, u"недорого"_qs, u"москва"_qs,
                                   u"отзывы"_qs, u"цена"_qs, u"доставка"_qs, u"зерновой"_qs};
        for (int i = 0; i < 100'000; ++i) {
            QString q = words[i % 8] + u' ' + words[(i / 8) % 8] + u' ' + QString::number(i);
            auto e = std::make_unique<TSerpEntry>(kNow);
            for (int u = 0; u < 10; ++u) {
                e->Urls.add(QStringLiteral("https://www.site%1.ru/catalog/section-%2/item/")
                                .arg((i * 31 + u * 7919) % 20000)
                                .arg(u));
            }
            store.add(q, std::move(e));
        }
        SaveCache(store, path);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_ReadAndSplitLines(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        QFile file(f.path);
        file.open(QIODevice::ReadOnly);
        const QString text = kCodec.decode(file.readAll());
        qsizetype n = 0;
        forEachLine(text, [&n](QStringView) { ++n; });
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.path).size());
}
BENCHMARK(BM_ReadAndSplitLines)->Unit(benchmark::kMillisecond);

void BM_LoadCache(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        ResultStore store;
        LoadCache(store, f.path, kNow, kCodec);
        benchmark::DoNotOptimize(store.size());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.path).size());
}
BENCHMARK(BM_LoadCache)->Unit(benchmark::kMillisecond);

void BM_SaveCache(benchmark::State& state) {
    Fixture& f = fixture();
    const QString out = f.dir.filePath(QStringLiteral("out.txt"));
    for (auto _ : state) {
        SaveCache(f.store, out);
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(f.path).size());
}
BENCHMARK(BM_SaveCache)->Unit(benchmark::kMillisecond);

// A look-up in the store of 100,000 stays a binary search.
void BM_StoreLookUp(benchmark::State& state) {
    Fixture& f = fixture();
    qsizetype i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.store.indexOf(f.store[(i * 7919) % f.store.size()].text));
        ++i;
    }
}
BENCHMARK(BM_StoreLookUp);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
