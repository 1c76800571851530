#include "tree/cluster_tree_model.h"

#include "tree/tree_notation.h"

#include <gtest/gtest.h>
#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>

using namespace kelvara;
using namespace kelvara::tree_notation;

namespace {

QString q(const char* s) {
    return QString::fromUtf8(s);
}

void addQuery(ResultStore& store, const char* query, std::initializer_list<const char*> urls) {
    auto e = std::make_unique<TSerpEntry>(0);
    for (const char* u : urls) {
        e->Urls.add(q(u));
    }
    store.add(q(query), std::move(e));
}

class TreeModelTest : public ::testing::Test {
protected:
    ClusterTreeModel model;
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

}  // namespace

TEST_F(TreeModelTest, FillsTwoLevelsCollapsedUncheckedAndReadsBackInTreeOrder) {
    const ClusterList list = {
        {q("окна"), {q("окна"), q("пластиковые окна"), q("окна пвх")}},
        {q("двери"), {q("двери"), q("межкомнатные двери")}},
        {unsortedCaption(), {q("потолки")}},
    };
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.fillTree(list);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(model.content(), list);
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 3);
    EXPECT_EQ(model.rowCount(model.index(0, 1)), 0);  // only column 0 has children
    EXPECT_FALSE(model.hasChildren(model.index(0, 0, model.index(0, 0))));
    for (const auto& c : model.clusters()) {
        EXPECT_FALSE(c->checked);
        for (const auto& p : c->children) {
            EXPECT_FALSE(p->checked);
            EXPECT_EQ(p->parent, c.get());
        }
    }
    // Filling again replaces everything.
    model.fillTree({{q("x"), {}}});
    EXPECT_EQ(dump(model), q("x()"));
}

TEST_F(TreeModelTest, HeadersColumnsImagesAndFonts) {
    EXPECT_EQ(model.columnCount(), 4);
    const QStringList headers = {q("Кластер / Фраза"), QString(), q("Кол-во"), q("Главных")};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), headers[c]) << c;
    }
    EXPECT_EQ(model.headerData(3, Qt::Horizontal, Qt::ToolTipRole).toString(),
              q("Число главных страниц по ТОП"));
    EXPECT_FALSE(model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());

    const auto& specs = columnSpecs();
    EXPECT_EQ(specs[0].width, 270);
    EXPECT_EQ(specs[1].width, 19);
    EXPECT_EQ(specs[1].minWidth, 19);
    EXPECT_EQ(specs[1].maxWidth, 19);
    EXPECT_FALSE(specs[1].resizable);
    EXPECT_EQ(specs[1].alignment, Qt::AlignCenter);
    EXPECT_EQ(specs[2].width, 50);
    EXPECT_FALSE(specs[2].resizable);
    EXPECT_EQ(specs[3].width, 60);
    EXPECT_EQ(specs[3].minWidth, 60);
    EXPECT_TRUE(specs[0].resizable && specs[3].resizable);

    setupTree(model, "A(a1)");
    const QModelIndex a = at(model, "A");
    const QModelIndex a1 = at(model, "A/a1");
    EXPECT_EQ(model.data(a.siblingAtColumn(1), ImageIndexRole).toInt(), 15);
    EXPECT_EQ(model.data(a1.siblingAtColumn(1), ImageIndexRole).toInt(), 8);
    for (int c : {0, 2, 3}) {
        EXPECT_FALSE(model.data(a.siblingAtColumn(c), ImageIndexRole).isValid()) << c;
        EXPECT_FALSE(model.data(a1.siblingAtColumn(c), ImageIndexRole).isValid()) << c;
    }
    EXPECT_FALSE(model.data(a.siblingAtColumn(1)).isValid());  // the icon column has no text
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(model.data(a.siblingAtColumn(c), BoldRole).toBool()) << c;
        EXPECT_FALSE(model.data(a1.siblingAtColumn(c), BoldRole).toBool()) << c;
    }
    EXPECT_EQ(model.data(a, LevelRole).toInt(), 0);
    EXPECT_EQ(model.data(a1, LevelRole).toInt(), 1);
}

TEST_F(TreeModelTest, CellTextsCountsAndMainPages) {
    ResultStore store;
    // "окна" has one main page, "пластиковые окна" three.
    addQuery(store, "окна", {"http://a.ru/", "http://b.ru/okna", "https://c.ru/x/"});
    addQuery(store, "пластиковые окна", {"http://a.ru/", "http://b.ru/", "http://c.ru:8080/"});
    addQuery(store, "двери", {"http://d.ru/path"});
    model.setResultStore(&store);
    setupTree(model,
              "окна(окна, пластиковые окна, неизвестная) | ДВЕРИ(двери) | () | Моя группа(двери) "
              "| [U](пластиковые окна, двери)");

    struct Case {
        const char* path;
        const char* count;  // column 2
        const char* main;   // column 3; null: no text
    } cases[] = {
        {"окна", "3", "1"},  // its caption's own count, not a total over the phrases
        {"окна/окна", "0", "1"},
        {"окна/пластиковые окна", "0", "3"},
        {"окна/неизвестная", "0", nullptr},
        {"ДВЕРИ", "1", "0"},  // a known query in another letter case
        {"", "0", nullptr},   // an empty caption shows nothing
        {"Моя группа", "1", nullptr},
        {"[U]", "2", "0"},
    };
    for (const Case& c : cases) {
        const QModelIndex idx = at(model, c.path);
        ASSERT_TRUE(idx.isValid()) << c.path;
        EXPECT_EQ(model.data(idx).toString(), captionOf(q(c.path).section(u'/', -1))) << c.path;
        EXPECT_EQ(model.data(idx.siblingAtColumn(2)).toString(), q(c.count)) << c.path;
        const QVariant main = model.data(idx.siblingAtColumn(3));
        if (c.main) {
            EXPECT_EQ(main.toString(), q(c.main)) << c.path;
        } else {
            EXPECT_FALSE(main.isValid()) << c.path;
        }
    }

    // Nothing is cached: a rename shows the new caption's count at once.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(model.setData(at(model, "Моя группа"), q("пластиковые ОКНА")));
    EXPECT_EQ(model.data(at(model, "пластиковые ОКНА", 3)).toString(), q("3"));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][1].value<QModelIndex>().column(), 3);  // the rename repaints column 3

    // New results in the store: column 3 of every row is repainted, one range per parent.
    QSignalSpy refreshed(&model, &QAbstractItemModel::dataChanged);
    model.notifyResultsChanged();
    ASSERT_EQ(refreshed.count(), 5);  // the clusters, and the phrases of the four with some
    for (const QList<QVariant>& signal : refreshed) {
        EXPECT_EQ(signal[0].value<QModelIndex>().column(), 3);
        EXPECT_EQ(signal[1].value<QModelIndex>().column(), 3);
    }

    // Without a store the counts stay empty, the bucket still shows "0".
    model.setResultStore(nullptr);
    EXPECT_FALSE(model.data(at(model, "окна", 3)).isValid());
    EXPECT_EQ(model.data(at(model, "[U]", 3)).toString(), q("0"));
}

TEST_F(TreeModelTest, OnlyClusterCaptionsAreEditableAndStoredUnchanged) {
    setupTree(model, "A(a1)");
    const QModelIndex a = at(model, "A");
    const QModelIndex a1 = at(model, "A/a1");
    EXPECT_TRUE(model.flags(a) & Qt::ItemIsEditable);
    for (int c = 1; c < 4; ++c) {
        EXPECT_FALSE(model.flags(a.siblingAtColumn(c)) & Qt::ItemIsEditable) << c;
        EXPECT_FALSE(model.setData(a.siblingAtColumn(c), q("x"))) << c;
    }
    for (int c = 0; c < 4; ++c) {
        EXPECT_FALSE(model.flags(a1.siblingAtColumn(c)) & Qt::ItemIsEditable) << c;
        EXPECT_FALSE(model.setData(a1.siblingAtColumn(c), q("x"))) << c;
    }
    EXPECT_EQ(dump(model), q("A(a1)"));

    // No trimming, no check for emptiness or for another cluster's name.
    for (const char* text : {"  два пробела  ", "", "a1", "[ неотсортированные ]"}) {
        ASSERT_TRUE(model.setData(a, q(text))) << text;
        EXPECT_EQ(model.nodeOf(a)->Data.Caption, q(text));
    }
    EXPECT_TRUE(ClusterTreeModel::isUnsortedBucket(*model.nodeOf(a)));
    model.setData(a, q("[ Неотсортированные ]"));
    EXPECT_FALSE(ClusterTreeModel::isUnsortedBucket(*model.nodeOf(a)));  // exact, case-sensitive
}

TEST_F(TreeModelTest, CheckPropagatesDownOnlyAndPhrasesToggleAlone) {
    setupTree(model, "A(a1, a2, a3) | B(b1)");
    const QModelIndex a = at(model, "A");
    EXPECT_TRUE(model.flags(a) & Qt::ItemIsUserCheckable);
    EXPECT_TRUE(model.flags(at(model, "A/a1")) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.data(a.siblingAtColumn(2), Qt::CheckStateRole).isValid());

    // The delegate hands over a Qt::CheckState; other code may hand over an int.
    ASSERT_TRUE(model.setData(a, QVariant::fromValue(Qt::Checked), Qt::CheckStateRole));
    EXPECT_EQ(dump(model), q("A*(a1*, a2*, a3*) | B(b1)"));
    EXPECT_EQ(model.data(at(model, "A/a2"), Qt::CheckStateRole).toInt(), int(Qt::Checked));

    model.setData(at(model, "A/a2"), int(Qt::Unchecked), Qt::CheckStateRole);
    EXPECT_EQ(dump(model), q("A*(a1*, a2, a3*) | B(b1)"));  // the cluster stays checked

    model.setData(at(model, "B/b1"), int(Qt::Checked), Qt::CheckStateRole);
    EXPECT_EQ(dump(model), q("A*(a1*, a2, a3*) | B(b1*)"));  // checking all does not check B

    model.setData(at(model, "A/a2"), int(Qt::Checked), Qt::CheckStateRole);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setData(a, int(Qt::Unchecked), Qt::CheckStateRole);
    EXPECT_EQ(dump(model), q("A(a1, a2, a3) | B(b1*)"));
    // One notification for the cluster, one for the range of its children.
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[1][0].value<QModelIndex>(), at(model, "A/a1"));
    EXPECT_EQ(changed[1][1].value<QModelIndex>(), at(model, "A/a3"));
}

TEST_F(TreeModelTest, CountsLabelFollowsEveryChangeOfCounts) {
    EXPECT_EQ(model.countText(), q("Кластеров: 0, запросов: 0"));
    QSignalSpy texts(&model, &ClusterTreeModel::countTextChanged);

    setupTree(model, "[U](a, b, c)");
    EXPECT_EQ(model.countText(), q("Кластеров: 1, запросов: 3"));
    EXPECT_EQ(model.GetClusterCount(), 1);
    ASSERT_EQ(texts.count(), 1);
    EXPECT_EQ(texts[0][0].toString(), q("Кластеров: 1, запросов: 3"));

    model.setData(at(model, "[U]"), int(Qt::Checked), Qt::CheckStateRole);
    model.setData(at(model, "[U]"), q("renamed"));
    EXPECT_EQ(texts.count(), 1);  // checks and renames change no count

    model.appendCluster(q("empty"));
    EXPECT_EQ(model.countText(), q("Кластеров: 2, запросов: 3"));
    {
        ClusterTreeBatch batch(model);
        batch.movePhrase(model.cluster(0)->children[0].get(), model.cluster(1));
        batch.removeCluster(model.cluster(0));
        EXPECT_EQ(texts.count(), 2);  // nothing is announced half-way
    }
    EXPECT_EQ(model.countText(), q("Кластеров: 1, запросов: 1"));
    EXPECT_EQ(texts.count(), 3);
    EXPECT_EQ(texts.last()[0].toString(), q("Кластеров: 1, запросов: 1"));

    model.clear();
    EXPECT_EQ(model.countText(), q("Кластеров: 0, запросов: 0"));
    EXPECT_EQ(texts.count(), 4);
}

TEST_F(TreeModelTest, BatchMovesPersistentIndexesWithTheirNodes) {
    setupTree(model, "A(a1, a2, a3) | B(b1) | C(c1)");
    const QPersistentModelIndex a2(at(model, "A/a2", 3));
    const QPersistentModelIndex a3(at(model, "A/a3"));
    const QPersistentModelIndex b(at(model, "B"));
    const QPersistentModelIndex b1(at(model, "B/b1"));
    const QPersistentModelIndex c(at(model, "C", 2));
    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    {
        ClusterTreeBatch batch(model);
        TreeNode* d = batch.appendCluster(q("D"));
        batch.movePhrase(model.nodeOf(a2), d);
        batch.movePhrase(model.nodeOf(at(model, "A/a1")), model.nodeOf(at(model, "A")));
        batch.removeCluster(model.nodeOf(b));  // with b1 still in it
    }
    EXPECT_EQ(layouts.count(), 1);
    EXPECT_EQ(dump(model), q("A(a3, a1) | C(c1) | D(a2)"));
    EXPECT_EQ(model.phraseCount(), 4);
    EXPECT_EQ(a2, at(model, "D/a2", 3));
    EXPECT_EQ(a3, at(model, "A/a3"));
    EXPECT_EQ(a3.row(), 0);
    EXPECT_EQ(c, at(model, "C", 2));
    EXPECT_EQ(c.row(), 1);
    EXPECT_FALSE(b.isValid());
    EXPECT_FALSE(b1.isValid());
}
