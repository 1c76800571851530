// The cluster tree at its working size: 100,000 phrases in 10,000 clusters. Fill, delete 1,000
// selected clusters at once, move 10,000 checked phrases, drop 5,000 selected phrases, and the
// cost of one cell's data; then the undo and the redo of the two largest edits (the 1,000
// clusters, the 10,000 phrases), each to stay within 100 ms. With the windows built, the commands
// and their undo and redo are timed a second time with a real view attached (selection, expanded
// clusters, its own relayout), as the user meets them.
#include "tree/tree_commands.h"
#include "tree/tree_undo.h"

#ifdef KELVARA_BENCH_WITH_VIEW
#include "ui/cluster_tree_view.h"

#include <QApplication>
#include <QItemSelectionModel>
#endif

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QUndoStack>

#include <chrono>
#include <memory>
#include <random>

using namespace kelvara;

namespace {

constexpr int kClusters = 10'000;
constexpr int kPerCluster = 10;

const ClusterList& bigTree() {
    static const ClusterList list = [] {
        ClusterList l;
        l.reserve(kClusters);
        for (int c = 0; c < kClusters; ++c) {
            Cluster cl{QStringLiteral("кластер %1").arg(c), {}};
            for (int p = 0; p < kPerCluster; ++p) {
                cl.phrases.append(QStringLiteral("запрос %1 номер %2").arg(c).arg(p));
            }
            l.push_back(std::move(cl));
        }
        return l;
    }();
    return list;
}

// Every phrase a known query with ten results, a few of them main pages.
const ResultStore& bigStore() {
    static const ResultStore store = [] {
        ResultStore s;
        s.reserve(kClusters * kPerCluster);
        for (const Cluster& c : bigTree()) {
            for (const QString& p : c.phrases) {
                auto e = std::make_unique<TSerpEntry>(0);
                for (int u = 0; u < 10; ++u) {
                    e->Urls.add(u % 3 == 0 ? QStringLiteral("http://site%1.ru/").arg(u)
                                           : QStringLiteral("http://site%1.ru/page").arg(u));
                }
                s.add(p, std::move(e));
            }
        }
        return s;
    }();
    return store;
}

double seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

QModelIndexList everyNthCluster(const ClusterTreeModel& m, int step) {
    QModelIndexList out;
    for (int c = 0; c < m.GetClusterCount(); c += step) {
        out.append(m.index(c, 0));
    }
    return out;
}

QModelIndexList everyNthPhrase(const ClusterTreeModel& m, int step) {
    QModelIndexList out;
    int n = 0;
    for (const auto& c : m.clusters()) {
        for (const auto& p : c->children) {
            if (n++ % step == 0) {
                out.append(m.indexOf(p.get()));
            }
        }
    }
    return out;
}

void checkEveryNthPhrase(ClusterTreeModel& m, int step) {
    int n = 0;
    for (const auto& c : m.clusters()) {
        for (const auto& p : c->children) {
            p->checked = n++ % step == 0;
        }
    }
}

void BM_FillTree(benchmark::State& state) {
    ClusterTreeModel model;
    for (auto _ : state) {
        const auto t = std::chrono::steady_clock::now();
        model.fillTree(bigTree());
        state.SetIterationTime(seconds(t));
    }
    state.counters["phrases"] = model.phraseCount();
}
BENCHMARK(BM_FillTree)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DeleteSelectedClusters(benchmark::State& state) {
    ClusterTreeModel model;
    for (auto _ : state) {
        model.fillTree(bigTree());
        const QModelIndexList sel = everyNthCluster(model, 10);  // 1,000 clusters
        const auto t = std::chrono::steady_clock::now();
        const int deleted = DeleteClusters(model, sel, true, [] { return true; });
        state.SetIterationTime(seconds(t));
        if (deleted != 1000 || model.GetClusterCount() != kClusters - 1000 + 1) {
            state.SkipWithError("wrong result");
        }
    }
}
BENCHMARK(BM_DeleteSelectedClusters)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_MoveCheckedPhrases(benchmark::State& state) {
    ClusterTreeModel model;
    for (auto _ : state) {
        model.fillTree(bigTree());
        checkEveryNthPhrase(model, 10);  // 10,000 phrases, one in every cluster
        const auto t = std::chrono::steady_clock::now();
        const QModelIndex made = MovePhrases(model, {}, {}, false);
        state.SetIterationTime(seconds(t));
        if (model.rowCount(made) != 10'000) {
            state.SkipWithError("wrong result");
        }
    }
}
BENCHMARK(BM_MoveCheckedPhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DropSelectedPhrases(benchmark::State& state) {
    ClusterTreeModel model;
    for (auto _ : state) {
        model.fillTree(bigTree());
        const QModelIndexList sel = everyNthPhrase(model, 20);  // 5,000 phrases
        const QModelIndex target = model.index(kClusters / 2, 0);
        const auto t = std::chrono::steady_clock::now();
        const int moved = dropPhrases(model, target, sel);
        state.SetIterationTime(seconds(t));
        if (moved != 5000) {
            state.SkipWithError("wrong result");
        }
    }
}
BENCHMARK(BM_DropSelectedPhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

// One visible cell's data, everything a paint asks, over trees of growing size: the cost must
// not grow with the tree (the main-page count is one look-up in the store).
void BM_CellData(benchmark::State& state) {
    const int clusters = int(state.range(0));
    ClusterList list(bigTree().begin(), bigTree().begin() + clusters);
    ClusterTreeModel model;
    model.setResultStore(&bigStore());
    model.fillTree(list);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pickCluster(0, clusters - 1);
    std::uniform_int_distribution<int> pickPhrase(-1, kPerCluster - 1);
    std::vector<QModelIndex> rows;
    for (int i = 0; i < 4096; ++i) {
        const QModelIndex c = model.index(pickCluster(rng), 0);
        const int p = pickPhrase(rng);
        rows.push_back(p < 0 ? c : model.index(p, 0, c));
    }
    const int roles[] = {Qt::DisplayRole, Qt::CheckStateRole, ImageIndexRole, BoldRole,
                         Qt::TextAlignmentRole};
    size_t i = 0;
    for (auto _ : state) {
        const QModelIndex& row = rows[i++ % rows.size()];
        for (int col = 0; col < tcColumnCount; ++col) {
            const QModelIndex cell = model.sibling(row.row(), col, row);
            benchmark::DoNotOptimize(model.flags(cell));
            for (int role : roles) {
                benchmark::DoNotOptimize(model.data(cell, role));
            }
        }
        benchmark::DoNotOptimize(model.parent(row));
    }
    state.SetItemsProcessed(state.iterations() * tcColumnCount);  // cells
}
BENCHMARK(BM_CellData)->Arg(100)->Arg(1000)->Arg(10'000);

// The two largest edits, made once through the undo stack; each iteration times one undo (or one
// redo after an untimed undo). The edit's own cost is timed above.
enum class Edit { DeleteClusters, MovePhrases };
enum class Way { Undo, Redo };

void makeEdit(ClusterTreeModel& model, QUndoStack& stack, TreeViewMemory* view, Edit edit,
              const QModelIndexList& selection) {
    editTree(&stack, model, view, [&] {
        if (edit == Edit::DeleteClusters) {
            DeleteClusters(model, selection, true, [] { return true; });
        } else {
            MovePhrases(model, {}, {}, false);
        }
    });
}

bool undoneRight(const ClusterTreeModel& model, Edit edit) {
    return model.GetClusterCount() == kClusters && model.phraseCount() == kClusters * kPerCluster &&
           (edit == Edit::DeleteClusters || model.cluster(0)->childCount() == kPerCluster);
}

bool doneRight(const ClusterTreeModel& model, Edit edit) {
    return edit == Edit::DeleteClusters ? model.GetClusterCount() == kClusters - 1000 + 1
                                        : model.cluster(kClusters)->childCount() == 10'000;
}

void undoRedo(benchmark::State& state, Edit edit, Way way) {
    ClusterTreeModel model;
    QUndoStack stack;
    model.fillTree(bigTree());
    if (edit == Edit::MovePhrases) {
        checkEveryNthPhrase(model, 10);  // 10,000 phrases, one in every cluster
    }
    makeEdit(model, stack, nullptr, edit, everyNthCluster(model, 10));
    for (auto _ : state) {
        if (way == Way::Redo) {
            stack.undo();
        }
        const auto t = std::chrono::steady_clock::now();
        way == Way::Undo ? stack.undo() : stack.redo();
        state.SetIterationTime(seconds(t));
        if (way == Way::Undo ? !undoneRight(model, edit) : !doneRight(model, edit)) {
            state.SkipWithError("wrong result");
        }
        if (way == Way::Undo) {
            stack.redo();
        }
    }
}

void BM_UndoDeleteClusters(benchmark::State& s) {
    undoRedo(s, Edit::DeleteClusters, Way::Undo);
}
void BM_RedoDeleteClusters(benchmark::State& s) {
    undoRedo(s, Edit::DeleteClusters, Way::Redo);
}
void BM_UndoMovePhrases(benchmark::State& s) {
    undoRedo(s, Edit::MovePhrases, Way::Undo);
}
void BM_RedoMovePhrases(benchmark::State& s) {
    undoRedo(s, Edit::MovePhrases, Way::Redo);
}
BENCHMARK(BM_UndoDeleteClusters)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedoDeleteClusters)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoMovePhrases)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedoMovePhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef KELVARA_BENCH_WITH_VIEW

// The same commands with the tree on screen: the view's selection and expanded clusters are
// persistent indexes the batch must carry, and the view lays itself out again afterwards.
struct ViewedTree {
    ClusterTreeModel model;
    ClusterTreeView view;
    ViewedTree() {
        view.setClusterModel(&model);
        view.resize(600, 800);
        model.fillTree(bigTree());
        for (int c = 0; c < kClusters; c += 50) {
            view.expand(model.index(c, 0));
        }
        view.doItemsLayout();
    }
    void select(const QModelIndexList& rows) {
        QItemSelection sel;
        for (const QModelIndex& r : rows) {
            sel.select(r, r.siblingAtColumn(tcColumnCount - 1));
        }
        view.selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
    }
};

void BM_View_DeleteSelectedClusters(benchmark::State& state) {
    for (auto _ : state) {
        ViewedTree t;
        t.select(everyNthCluster(t.model, 10));
        const auto start = std::chrono::steady_clock::now();
        DeleteClusters(t.model, t.view.selectedNodes(), true, [] { return true; });
        t.view.doItemsLayout();
        state.SetIterationTime(seconds(start));
    }
}
BENCHMARK(BM_View_DeleteSelectedClusters)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_View_MoveCheckedPhrases(benchmark::State& state) {
    for (auto _ : state) {
        ViewedTree t;
        checkEveryNthPhrase(t.model, 10);
        const auto start = std::chrono::steady_clock::now();
        MovePhrases(t.model, {}, t.view.selectedNodes(), false);
        t.view.doItemsLayout();
        state.SetIterationTime(seconds(start));
    }
}
BENCHMARK(BM_View_MoveCheckedPhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_View_DropSelectedPhrases(benchmark::State& state) {
    for (auto _ : state) {
        ViewedTree t;
        t.select(everyNthPhrase(t.model, 20));
        const auto start = std::chrono::steady_clock::now();
        dropPhrases(t.model, t.model.index(kClusters / 2, 0), t.view.selectedNodes());
        t.view.doItemsLayout();
        state.SetIterationTime(seconds(start));
    }
}
BENCHMARK(BM_View_DropSelectedPhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

// Undo and redo with the view: the step also gives the view back its expanded clusters and its
// selection (all 1,000 deleted clusters selected), and the view lays itself out again.
void viewUndoRedo(benchmark::State& state, Edit edit, Way way) {
    ViewedTree t;
    QUndoStack stack;
    t.view.setUndoStack(&stack, nullptr, nullptr);
    if (edit == Edit::MovePhrases) {
        checkEveryNthPhrase(t.model, 10);
    } else {
        t.select(everyNthCluster(t.model, 10));
    }
    makeEdit(t.model, stack, &t.view, edit, t.view.selectedNodes());
    t.view.doItemsLayout();
    for (auto _ : state) {
        if (way == Way::Redo) {
            stack.undo();
            t.view.doItemsLayout();
        }
        const auto start = std::chrono::steady_clock::now();
        way == Way::Undo ? stack.undo() : stack.redo();
        t.view.doItemsLayout();
        state.SetIterationTime(seconds(start));
        if (way == Way::Undo ? !undoneRight(t.model, edit) : !doneRight(t.model, edit)) {
            state.SkipWithError("wrong result");
        }
        if (way == Way::Undo) {
            stack.redo();
            t.view.doItemsLayout();
        }
    }
}

// The edit itself through the stack, against BM_View_DeleteSelectedClusters and
// BM_View_MoveCheckedPhrases: what recording it and the view's state before and after costs.
void viewRecordedEdit(benchmark::State& state, Edit edit) {
    for (auto _ : state) {
        ViewedTree t;
        QUndoStack stack;
        t.view.setUndoStack(&stack, nullptr, nullptr);
        if (edit == Edit::MovePhrases) {
            checkEveryNthPhrase(t.model, 10);
        } else {
            t.select(everyNthCluster(t.model, 10));
        }
        const auto start = std::chrono::steady_clock::now();
        makeEdit(t.model, stack, &t.view, edit, t.view.selectedNodes());
        t.view.doItemsLayout();
        state.SetIterationTime(seconds(start));
        if (!doneRight(t.model, edit) || stack.count() != 1) {
            state.SkipWithError("wrong result");
        }
    }
}

void BM_View_RecordedDeleteClusters(benchmark::State& s) {
    viewRecordedEdit(s, Edit::DeleteClusters);
}
void BM_View_RecordedMovePhrases(benchmark::State& s) {
    viewRecordedEdit(s, Edit::MovePhrases);
}
BENCHMARK(BM_View_RecordedDeleteClusters)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_View_RecordedMovePhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_View_UndoDeleteClusters(benchmark::State& s) {
    viewUndoRedo(s, Edit::DeleteClusters, Way::Undo);
}
void BM_View_RedoDeleteClusters(benchmark::State& s) {
    viewUndoRedo(s, Edit::DeleteClusters, Way::Redo);
}
void BM_View_UndoMovePhrases(benchmark::State& s) {
    viewUndoRedo(s, Edit::MovePhrases, Way::Undo);
}
void BM_View_RedoMovePhrases(benchmark::State& s) {
    viewUndoRedo(s, Edit::MovePhrases, Way::Redo);
}
BENCHMARK(BM_View_UndoDeleteClusters)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_View_RedoDeleteClusters)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_View_UndoMovePhrases)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_View_RedoMovePhrases)->UseManualTime()->Unit(benchmark::kMillisecond);

#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef KELVARA_BENCH_WITH_VIEW
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
