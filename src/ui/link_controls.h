#pragma once

#include "clustering/cluster.h"
#include "clustering/link_graph.h"
#include "clustering/link_rules.h"
#include "core/platform.h"
#include "core/profile_file.h"
#include "core/serp_entry.h"
#include "core/textfile.h"

#include <QDialog>
#include <QObject>

#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QPlainTextEdit;
class QPushButton;

namespace kelvara {

class ClusterTreeModel;
class ClusterTreeView;

// "Links": the ignored hosts and the matching, as a small dialog.
class LinkOptionsForm : public QDialog {
    Q_OBJECT
public:
    LinkOptionsForm(const QString& hostsText, bool byHost, UiLanguage language,
                    QWidget* parent = nullptr);
    QString hostsText() const;
    bool matchByHost() const;
    QPlainTextEdit* hostsEdit() const { return hosts_; }
    QCheckBox* byHostBox() const { return byHost_; }

private:
    QPlainTextEdit* hosts_;
    QCheckBox* byHost_;
};

// The main window's part in what links queries: ignored-hosts.txt and the MatchBy setting, the
// button that edits them, and the tree's "why together" item with the last run it answers for.
class LinkControls : public QObject {
    Q_OBJECT
public:
    LinkControls(QString hostsPath, AnsiCodec codec, UiLanguage language, QWidget* window);
    ~LinkControls() override;

    // Reads the host list and MatchBy; what cannot be used is added to `problems`.
    void load(const ProfileFile& cfg, QStringList& problems);
    void save(ProfileFile& cfg) const;
    const LinkRules& rules() const { return rules_; }

    // The button that opens the dialog, for the window to place.
    QPushButton* button() const { return button_; }
    // Opens the dialog; on OK saves the host list and takes both choices.
    void edit();
    // What the dialog's OK does: writes the list to the file, reads it and takes the matching.
    // Returns what to tell the user ("" when all was well).
    QString apply(const QString& hostsText, bool byHost);

    // Adds "why together" to the tree's menu.
    void attachTree(ClusterTreeView* tree, ClusterTreeModel* model);
    QAction* whyAction() const { return why_; }
    // "Mark weak links": off at start; when on, the phrases whose removal would split their
    // soft cluster (of at most 5,000 phrases) are marked in the tree.
    QAction* weakAction() const { return weak_; }
    void markWeakLinks();

    // A run starts: its rules (kept for the answers about it).
    LinkRules startRun(bool hardMethod, int threshold);
    // Its tree was built from these clusters over this store: the link graph of the run is made
    // on a thread of its own from here on. The run's lines, when given, name each phrase's entry
    // without a search of the store.
    void runFinished(const ClusterList& clusters, const ResultStore* store,
                     const WorkList* runLines = nullptr);
    // The answer about two phrases of the last run (waits for the link graph if it is not made
    // yet).
    WhyTogether whyTogether(const QString& a, const QString& b);
    // Opens the window for the two selected phrases.
    void showWhyTogether();

private:
    std::optional<std::pair<QString, QString>> selectedPair() const;
    const LinkGraph* graph();

    QString hostsPath_;
    AnsiCodec codec_;
    UiLanguage language_;
    QWidget* window_;
    LinkRules rules_;
    QPushButton* button_ = nullptr;
    ClusterTreeView* tree_ = nullptr;
    ClusterTreeModel* model_ = nullptr;
    QAction* why_ = nullptr;
    QAction* weak_ = nullptr;

    struct LastRun {
        LinkRules rules;
        bool hardMethod = false;
        int threshold = 3;
        QStringList phrases;
        const ResultStore* store = nullptr;
    };
    LastRun pending_;
    std::optional<LastRun> last_;
    std::unique_ptr<LinkGraphBuild> build_;
    // Graphs of earlier runs still being made: let go of once made (or at the end).
    std::vector<std::unique_ptr<LinkGraphBuild>> retired_;
};

}  // namespace kelvara
