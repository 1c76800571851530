#pragma once

#include "clustering/cluster.h"
#include "core/platform.h"
#include "core/serp_entry.h"
#include "run/cache_saver.h"
#include "run/run_rules.h"
#include "search/yandex_worker.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kelvara {

class TYandexThread;
class TGroupingThread;

// The progress window as the run drives it.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void setCaption(const QString& text) = 0;
    virtual void setExplanation(const QString& text) = 0;  // StaticText1
    virtual void setCountText(const QString& text) = 0;    // StaticText2
    virtual void setCountVisible(bool visible) = 0;
    virtual void setButtonCaption(const QString& text) = 0;
    virtual void setProgress(int minimum, int maximum, int position) = 0;
    // Shows the window modally and returns when it has closed, for whatever reason (closed by
    // the run, or cancelled by the user). onShown runs once the window is on screen.
    virtual void execModal(const std::function<void()>& onShown) = 0;
    virtual void close() = 0;
};

// Where the run reports a failed fetch: a message box with the error icon and one OK button.
class ErrorView {
public:
    virtual ~ErrorView() = default;
    virtual void showError(const QString& text) = 0;
    // What the user should know after a run that went on: the skipped queries.
    virtual void showNotice(const QString& text) { showError(text); }
    // Asks before a large fetch; false: nothing is sent.
    virtual bool confirm(const QString& text) {
        (void)text;
        return true;
    }
};

// What a run takes from the main window's controls.
struct RunRequest {
    QStringList lines;              // the query box, line by line, unchanged
    QString serviceUrl;             // the URL box
    std::optional<int> regionCode;  // the selected region; none: the default region 213
    bool hardMethod = false;
    int threshold = 3;      // 1 to 10
    int threads = 1;        // requests in flight at once
    double maxRps = 0;      // the pace of all of them together; 0: none
    bool deferred = false;  // deferred requests (a REST URL only)
    QString operationsUrl;
    bool confirmLargeFetch = false;  // ask before more than kConfirmAbove requests
    double pricePer1000 = 0;         // shown in that question when set
    LinkRules links;                 // ignored hosts, matching by host
};

// The two-phase run of the main window: fetch what has no fresh stored result, then cluster
// everything, with the progress window up meanwhile and a timer polling the phase's thread.
// Everything here runs on the user-interface thread.
class RunController : public QObject {
    Q_OBJECT
public:
    RunController(ResultStores& stores, SearchContext search, ProgressView& progress,
                  ErrorView& errors, UiLanguage language, QObject* parent = nullptr);
    ~RunController() override;

    // One whole run; returns when it has ended (finished, failed or cancelled).
    void Button1Click(const RunRequest& request);

    // Stops a fetch still running and puts what it fetched into the store; empties the run.
    void ResetWorkList();
    void StopGroupingThread();
    // The queries of the run with their entries; while clustersBuilt is handled, those of the
    // run that built the clusters.
    const WorkList& runLines() const { return FWorkList.lines; }

    // Where the store is saved at the end of every fetch phase (finished, failed or cancelled)
    // and about once a minute while a long fetch goes on; none: not saved by the run.
    void setCacheSaver(CacheSaver* saver) { saver_ = saver; }
    // The deferred mode's operations, kept beside the program; none: the mode is off.
    void setOperationStore(std::shared_ptr<OperationStore> store) {
        operations_ = std::move(store);
    }
    // How often a running fetch saves what has arrived; a minute in the program.
    void setSaveInterval(int ms) { saveInterval_ = ms; }

    int pollInterval() const { return ProcessTimer.interval(); }
    // 1000 ms in the program; tests poll faster.
    void setPollInterval(int ms) { ProcessTimer.setInterval(ms); }
    bool running() const { return !FYandexThreads.empty() || FGroupingThread != nullptr; }

Q_SIGNALS:
    // The clustering has succeeded: the clusters for the tree, bucket last.
    void clustersBuilt(const kelvara::ClusterList& clusters);

private:
    struct TYandexThreadRec {
        FetchList* list = nullptr;  // the part of the plan this slot asks
        std::unique_ptr<TYandexThread> Thread;
    };

    bool StartYandexThreads();  // false: refused before anything was sent
    void StopYandexThreads();
    void StartGroupingThread();
    void ProcessTimerTimer();
    void BuildClusterTree();

    ResultStores& stores_;
    ResultStore* FGlobalList = nullptr;  // the store of the run's region
    SearchContext search_;
    ProgressView& progress_;
    ErrorView& errors_;
    UiLanguage language_;
    RunRequest request_;

    void SaveArrivals();

    RunPlan plan_;  // the queries a fetch asks, and where their answers go
    RunWork FWorkList;
    TStringListDynArray FGroups;
    std::vector<TYandexThreadRec> FYandexThreads;
    std::unique_ptr<TGroupingThread> FGroupingThread;
    QTimer ProcessTimer;

    // Saving while a fetch goes on: the workers hand a copy of each answer over as it arrives.
    CacheSaver* saver_ = nullptr;
    std::shared_ptr<OperationStore> operations_;
    int saveInterval_ = 60'000;
    QElapsedTimer sinceSave_;
    QElapsedTimer sinceStart_;
    QString skippedText_;  // shown when the run has ended
    std::mutex arrivedMutex_;
    CacheSaver::Arrivals arrived_;
    size_t arrivedSaved_ = 0;
};

}  // namespace kelvara
