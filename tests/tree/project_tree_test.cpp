#include "tree/project_tree.h"

#include "tree/tree_notation.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

using namespace kelvara;

TEST(ProjectTree, TheTreeWithItsChecksGoesIntoAProjectAndComesBack) {
    ClusterTreeModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    // A checked cluster with a phrase unchecked by hand, and a checked phrase alone.
    tree_notation::setupTree(model, "A*(a1*, a2) | B() | [U](x*, a1)");
    const std::vector<ProjectCluster> clusters = projectClusters(model);
    ASSERT_EQ(clusters.size(), 3u);
    EXPECT_EQ(clusters[0], (ProjectCluster{u"A"_qs, true, {{u"a1"_qs, true}, {u"a2"_qs, false}}}));
    EXPECT_EQ(clusters[2].caption, unsortedCaption());

    ClusterTreeModel other;
    QAbstractItemModelTester otherTester(&other,
                                         QAbstractItemModelTester::FailureReportingMode::Fatal);
    tree_notation::setupTree(other, "old*(o*)");
    QSignalSpy resets(&other, &QAbstractItemModel::modelReset);
    QSignalSpy counts(&other, &ClusterTreeModel::countTextChanged);
    fillTreeFromProject(other, clusters);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(projectClusters(other), clusters);
    EXPECT_EQ(tree_notation::dump(other), u"A*(a1*, a2) | B() | [U](x*, a1)"_qs);
    EXPECT_EQ(other.data(other.index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
}
