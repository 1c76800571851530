#pragma once

// A compact text form of the cluster tree, so that one comparison checks a whole tree:
//   "A*(a1*, a2) | B() | [U](x)"
// Clusters are separated by " | ", their phrases listed in parentheses, "*" marks a checked
// node and "[U]" stands for the unsorted bucket's exact caption.

#include "tree/cluster_tree_model.h"

#include <QModelIndex>
#include <QModelIndexList>
#include <QString>
#include <QStringList>

namespace kelvara::tree_notation {

inline QString captionOf(QString text) {
    return text == u"[U]" ? unsortedCaption() : text;
}

inline QString shown(const QString& caption) {
    return caption == unsortedCaption() ? QStringLiteral("[U]") : caption;
}

// Fills the model from the notation and sets the marked checks.
inline void setupTree(ClusterTreeModel& model, const char* text) {
    ClusterList list;
    std::vector<std::vector<bool>> checks;
    std::vector<bool> clusterChecks;
    const QString all = QString::fromUtf8(text).trimmed();
    const QStringList parts = all.isEmpty() ? QStringList() : all.split(QStringLiteral(" | "));
    for (const QString& part : parts) {
        const qsizetype open = part.indexOf(u'(');
        QString head = part.left(open).trimmed();
        const bool checked = head.endsWith(u'*');
        if (checked) {
            head.chop(1);
        }
        Cluster c{captionOf(head), {}};
        std::vector<bool> pc;
        const QString inner = part.mid(open + 1, part.size() - open - 2).trimmed();
        if (!inner.isEmpty()) {
            for (QString p : inner.split(QStringLiteral(", "))) {
                const bool pchecked = p.endsWith(u'*');
                if (pchecked) {
                    p.chop(1);
                }
                c.phrases.append(p);
                pc.push_back(pchecked);
            }
        }
        list.push_back(c);
        clusterChecks.push_back(checked);
        checks.push_back(pc);
    }
    model.fillTree(list);
    for (size_t i = 0; i < list.size(); ++i) {
        TreeNode* c = model.cluster(int(i));
        c->checked = clusterChecks[i];
        for (size_t j = 0; j < checks[i].size(); ++j) {
            c->children[j]->checked = checks[i][j];
        }
    }
}

inline QString dump(const ClusterTreeModel& model) {
    QStringList parts;
    for (const auto& c : model.clusters()) {
        QStringList phrases;
        for (const auto& p : c->children) {
            phrases.append(p->Data.Caption + (p->checked ? QStringLiteral("*") : QString()));
        }
        parts.append(shown(c->Data.Caption) + (c->checked ? QStringLiteral("*") : QString()) +
                     u'(' + phrases.join(QStringLiteral(", ")) + u')');
    }
    return parts.join(QStringLiteral(" | "));
}

// "A" is the first cluster captioned A, "A/a1" its phrase a1; invalid when there is none.
inline QModelIndex at(const ClusterTreeModel& model, const char* path, int column = 0) {
    const QStringList names = QString::fromUtf8(path).split(u'/');
    for (const auto& c : model.clusters()) {
        if (c->Data.Caption != captionOf(names[0])) {
            continue;
        }
        if (names.size() == 1) {
            return model.indexOf(c.get(), column);
        }
        for (const auto& p : c->children) {
            if (p->Data.Caption == names[1]) {
                return model.indexOf(p.get(), column);
            }
        }
    }
    return {};
}

inline QModelIndexList select(const ClusterTreeModel& model,
                              std::initializer_list<const char*> paths) {
    QModelIndexList out;
    for (const char* p : paths) {
        out.append(at(model, p));
    }
    return out;
}

}  // namespace kelvara::tree_notation
