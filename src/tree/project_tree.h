#pragma once

#include "table/project_file.h"
#include "tree/cluster_tree_model.h"

#include <vector>

namespace kelvara {

// The cluster tree as a project holds it, and back: captions, phrases and check states, in tree
// order.
std::vector<ProjectCluster> projectClusters(const ClusterTreeModel& model);

// Replaces the whole tree (one model reset) by the project's clusters with their check states.
void fillTreeFromProject(ClusterTreeModel& model, const std::vector<ProjectCluster>& clusters);

}  // namespace kelvara
