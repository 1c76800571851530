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

#include <QMainWindow>

#include <memory>

namespace Ui {
class frmMainForm;
}

namespace kelvara {

class ClusterTreeView;
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
    ClusterTreeView* tree() const { return vdtList; }
    TfrmProgressForm* progressForm() const { return progressForm_; }
    TfrmAboutForm* aboutForm() const { return aboutForm_; }
    double manualSize() const { return FManualSize; }
    RunController& runController() { return *controller_; }

    // The run, as the cluster button starts it; returns when the run has ended.
    void Button1Click();
    // The import button's work for a file chosen elsewhere (the command line): import, then run.
    void importAndRun(const QString& file);
    // Stops what runs and writes cache.txt and settings.ini. Runs once, when the window closes.
    void FormDestroy();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void UpdateQueryCount();
    void RadioButton1Click();
    void RadioButton2Click();
    void Splitter1Moved();
    void FormResize();
    void BitBtn1Click();
    void BitBtn2Click();
    bool ImportCsv();  // false when the file could not be read
    bool importFile(const QString& file);
    void Button4Click();
    void vdtListNodeClick(const QModelIndex& node, int level);
    void BuildClusterTree(const ClusterList& clusters);
    QString path(const char* file) const;

    // SettingsControls: the settings file reads into and writes from these controls.
    QString serviceUrl() const override;
    void setServiceUrl(const QString& url) override;
    bool hardMethod() const override;
    void chooseHardMethod() override;
    bool selectRegion(int code) override;
    std::optional<int> selectedRegion() const override;

    Environment env_;
    AnsiCodec codec_;
    std::unique_ptr<Ui::frmMainForm> ui;
    ResultStores FGlobalList;          // every region's stored results
    int treeRegion_ = kDefaultRegion;  // the region whose results the tree was built from
    int runRegion_ = kDefaultRegion;   // the region of the run under way
    ClusterTreeModel model_;
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
    bool destroyed_ = false;
};

}  // namespace kelvara
