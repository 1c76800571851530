#include "tree/project_tree.h"

namespace kelvara {

std::vector<ProjectCluster> projectClusters(const ClusterTreeModel& model) {
    std::vector<ProjectCluster> out;
    out.reserve(size_t(model.GetClusterCount()));
    for (const auto& c : model.clusters()) {
        ProjectCluster pc{c->Data.Caption, c->checked, {}};
        pc.phrases.reserve(c->children.size());
        for (const auto& p : c->children) {
            pc.phrases.push_back(ProjectPhrase{p->Data.Caption, p->checked});
        }
        out.push_back(std::move(pc));
    }
    return out;
}

void fillTreeFromProject(ClusterTreeModel& model, const std::vector<ProjectCluster>& clusters) {
    ClusterList list;
    list.reserve(clusters.size());
    for (const ProjectCluster& c : clusters) {
        Cluster cl{c.caption, {}};
        cl.phrases.reserve(qsizetype(c.phrases.size()));
        for (const ProjectPhrase& p : c.phrases) {
            cl.phrases.append(p.text);
        }
        list.push_back(std::move(cl));
    }
    model.fillTree(list);
    // Straight after the reset no view has asked for a check state yet, so the nodes take theirs
    // without a signal each (the toggle would also pass a cluster's state down to its phrases).
    for (size_t i = 0; i < clusters.size(); ++i) {
        TreeNode* c = model.cluster(int(i));
        c->checked = clusters[i].checked;
        for (size_t k = 0; k < clusters[i].phrases.size(); ++k) {
            c->children[k]->checked = clusters[i].phrases[k].checked;
        }
    }
}

}  // namespace kelvara
