#pragma once

#include "core/platform.h"
#include "core/profile_file.h"
#include "core/serp_entry.h"
#include "core/settings.h"
#include "run/cache_saver.h"
#include "run/run_controller.h"
#include "search/regions.h"
#include "search/yandex_worker.h"
#include "tree/cluster_tree_model.h"
#include "ui/shell_open.h"

#include <QLockFile>
#include <QMainWindow>
#include <QTimer>
#include <QUndoStack>

#include <memory>

namespace Ui {
class frmMainForm;
}

namespace kelvara {

struct Project;
class ClusterTreeView;
class LinkControls;
class TfrmAboutForm;
class TfrmProgressForm;

// The main window. It wires its controls to the run controller, the cluster tree's model and
// view, the import and the export; the logic lives below it.
class TfrmMainForm : public QMainWindow, private SettingsControls {
    Q_OBJECT
public:
    // What the window takes from the system; tests set each part.
    struct Environment {
        PlatformFacts platform;  // executable directory, language, code page, clock
        SearchContext search;    // transport, clock and code page of the search worker
        UrlOpener opener = shellOpener();
    };

    explicit TfrmMainForm(Environment env, QWidget* parent = nullptr);
    ~TfrmMainForm() override;

    // The stored results of the selected region (213 when none is selected).
    ResultStore& store();
    ClusterTreeModel& treeModel() { return model_; }
    // Every edit of the tree and every run that replaced it, as steps to undo. Its clean state
    // (isClean(), setClean(), cleanChanged) says whether the tree changed since it was marked.
    QUndoStack& undoStack() { return undoStack_; }
    ClusterTreeView* tree() const { return vdtList; }
    TfrmProgressForm* progressForm() const { return progressForm_; }
    TfrmAboutForm* aboutForm() const { return aboutForm_; }
    double manualSize() const { return FManualSize; }
    RunController& runController() { return *controller_; }
    LinkControls& links() { return *links_; }

    // The run, as the cluster button starts it; returns when the run has ended.
    void Button1Click();
    // The import button's work for a file chosen elsewhere (the command line): import, then run.
    void importAndRun(const QString& file);
    // Stops what runs and writes cache.txt and settings.ini. Runs once, when the window closes.
    void FormDestroy();

    // Projects (main_form_project.cpp). Open takes a project file or a CSV file of the export;
    // each returns false when nothing changed (cancelled, or the file was refused with a message).
    bool openFile(const QString& file);
    // Opens the file once the window is up and has offered to restore unsaved work.
    void openAtStart(const QString& file) { startFile_ = file; }
    bool saveProject();    // Ctrl+S: to the open project, else as Save as
    bool saveProjectAs();  // asks for the file
    QString projectPath() const { return projectPath_; }
    // Whether the work has changes that are in no file: the caption's mark. The tree's and the
    // query box's changes and every run set it; opening and saving clear it.
    bool projectModified() const { return projectModified_; }
    void setProjectModified(bool modified);
    // The copy of unsaved work beside the program, written every little while and after each
    // run, removed by a normal close.
    QString recoveryPath() const;
    void setRecoveryInterval(int ms) { recoveryTimer_.setInterval(ms); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void keepEveryControlWhole();  // the window's minimum size
    void UpdateQueryCount();
    void RadioButton1Click();
    void RadioButton2Click();
    void Splitter1Moved();
    void FormResize();
    void BitBtn1Click();
    void BitBtn2Click();
    bool ImportCsv();  // false when the file could not be read or held no query
    bool importFile(const QString& file);
    void Button4Click();
    void vdtListNodeClick(const QModelIndex& node, int level);
    void BuildClusterTree(const ClusterList& clusters);
    QString path(const char* file) const;

    // Projects (main_form_project.cpp).
    void setUpProjects();
    void updateCaption();
    bool askToKeepChanges();  // false: the user cancelled
    Project currentProject() const;
    void applyProject(const Project& project, const QString& path, bool modified);
    bool openExport(const QString& file, const QByteArray& bytes);
    bool saveProjectTo(const QString& file);
    void writeRecovery();
    void removeRecovery();
    void offerRecovery();

    // SettingsControls: the settings file reads into and writes from these controls.
    QString serviceUrl() const override;
    void setServiceUrl(const QString& url) override;
    bool hardMethod() const override;
    void chooseHardMethod() override;
    int threshold() const override;
    bool chooseThreshold(int value) override;
    bool selectRegion(int code) override;
    std::optional<int> selectedRegion() const override;

    Environment env_;
    AnsiCodec codec_;
    std::unique_ptr<Ui::frmMainForm> ui;
    ResultStores FGlobalList;          // every region's stored results
    int treeRegion_ = kDefaultRegion;  // the region whose results the tree was built from
    int runRegion_ = kDefaultRegion;   // the region of the run under way
    ClusterTreeModel model_;
    QUndoStack undoStack_;  // after the model: its steps hold nodes of the model's trees
    ClusterTreeView* vdtList = nullptr;
    std::vector<RegionItem> regions_;
    std::unique_ptr<ProfileFile> FCfg;
    FetchSettings fetchSettings_;  // read with the other settings; Threads is the spin box's
    double FManualSize = -1.0;
    QString exportPath_;  // the save dialog's proposal: the folder at start-up, then the last file
    TfrmAboutForm* aboutForm_ = nullptr;
    TfrmProgressForm* progressForm_ = nullptr;
    std::unique_ptr<ProgressView> progressView_;
    std::unique_ptr<ErrorView> errorView_;
    std::unique_ptr<CacheSaver> saver_;  // before the controller, which saves through it
    std::unique_ptr<RunController> controller_;
    LinkControls* links_ = nullptr;  // ignored hosts, matching, "why together"
    bool destroyed_ = false;

    QString projectPath_;      // the open project file; empty: none yet
    QString documentName_;     // what the caption names: the project's or the opened export's file
    QString projectProposal_;  // what Save as proposes
    QString startFile_;        // named on the command line
    bool projectModified_ = false;
    bool recoveryDue_ = false;  // changed since the recovery copy was written
    QTimer recoveryTimer_;
    // Held while this window keeps the recovery copy, so that a second window beside the same
    // program neither offers nor overwrites the first one's.
    std::unique_ptr<QLockFile> recoveryLock_;
};

}  // namespace kelvara
