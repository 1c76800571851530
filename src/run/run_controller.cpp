#include "run/run_controller.h"

#include "clustering/assembly.h"
#include "clustering/grouping_thread.h"
#include "core/messages.h"
#include "core/settings.h"
#include "run/cache_saver.h"
#include "search/yandex_thread.h"

namespace kelvara {

namespace {
constexpr int kPoolSize = 1;
}

RunController::RunController(ResultStores& stores, SearchContext search, ProgressView& progress,
                             ErrorView& errors, UiLanguage language, QObject* parent)
    : QObject(parent),
      stores_(stores),
      search_(std::move(search)),
      progress_(progress),
      errors_(errors),
      language_(language) {
    ProcessTimer.setInterval(1000);
    connect(&ProcessTimer, &QTimer::timeout, this, &RunController::ProcessTimerTimer);
}

RunController::~RunController() {
    ResetWorkList();
    StopGroupingThread();
}

void RunController::Button1Click(const RunRequest& request) {
    request_ = request;
    if (!StartYandexThreads()) {
        ResetWorkList();
        return;
    }
    // The first poll waits until the window is on screen, so that a phase that ends at once
    // still ends with the window closed.
    progress_.execModal([this] {
        ProcessTimerTimer();
        if (running()) {
            ProcessTimer.start();
        }
    });
    StopGroupingThread();
    ResetWorkList();
}

bool RunController::StartYandexThreads() {
    ResetWorkList();
    FGlobalList = &stores_.of(request_.regionCode.value_or(kDefaultRegion));
    {
        const std::lock_guard lock(arrivedMutex_);
        arrived_.region = request_.regionCode.value_or(kDefaultRegion);
    }
    plan_ = planRun(*FGlobalList, request_.lines, search_.clock(), FWorkList);
    // Nothing is sent to an address that is not a web one (the run needs none when everything
    // is stored).
    if (!plan_.toFetch.empty() && !isServiceUrl(request_.serviceUrl)) {
        errors_.showError(notServiceUrlText(request_.serviceUrl, language_));
        plan_ = RunPlan();
        return false;
    }
    FYandexThreads.resize(kPoolSize);
    static_assert(kPoolSize == 1, "one slot works through the plan's whole list");
    for (TYandexThreadRec& slot : FYandexThreads) {
        slot.list = &plan_.toFetch;
    }
    const QString url = baseUrl(request_.serviceUrl, request_.regionCode);
    sinceSave_.start();
    for (TYandexThreadRec& slot : FYandexThreads) {
        SearchContext context = search_;
        FetchList* list = slot.list;
        // On the worker's thread, right after the line `done - 1` was answered.
        context.progress = [this, list, chained = search_.progress](int done, int total) {
            if (saver_ && done > 0) {
                const FetchLine& line = (*list)[size_t(done - 1)];
                if (line.entry) {
                    const std::lock_guard lock(arrivedMutex_);
                    arrived_.entries.emplace_back(line.text, *line.entry);
                }
            }
            if (chained) {
                chained(done, total);
            }
        };
        slot.Thread = std::make_unique<TYandexThread>(url, *slot.list, std::move(context));
    }
    progress_.setCaption(GetMessageText(Msg::FetchCaption, language_));
    progress_.setExplanation(GetMessageText(Msg::FetchExplanation, language_));
    progress_.setButtonCaption(GetMessageText(Msg::Cancel, language_));
    progress_.setCountVisible(true);
    return true;
}

void RunController::SaveArrivals() {
    CacheSaver::Arrivals arrived;
    {
        const std::lock_guard lock(arrivedMutex_);
        if (arrived_.entries.size() == arrivedSaved_) {
            return;  // nothing new since the last save
        }
        arrived = arrived_;
        arrivedSaved_ = arrived_.entries.size();
    }
    saver_->saveInBackground(stores_, arrived);
    sinceSave_.start();
}

void RunController::ProcessTimerTimer() {
    int total = 0;
    int done = 0;
    if (FGroupingThread) {
        total = FGroupingThread->progress().FTotalIterations.load();
        done = FGroupingThread->progress().FSuccessIterations.load();
        if (FGroupingThread->progress().FStatus.load() == gsSuccess) {
            BuildClusterTree();
            progress_.close();
        }
    } else if (!FYandexThreads.empty()) {
        bool allDone = true;
        const TYandexThread* failed = nullptr;
        for (const TYandexThreadRec& slot : FYandexThreads) {
            total += slot.Thread->FTotalQueries;
            done += slot.Thread->FSuccessQueries.load();
            const TYandexStatus status = slot.Thread->FStatus.load(std::memory_order_acquire);
            allDone = allDone && status == ysSuccess;
            if (status == ysError) {
                failed = slot.Thread.get();
            }
        }
        if (allDone) {
            StopYandexThreads();
            StartGroupingThread();
            return;  // the grouping phase has set the bar
        }
        if (failed) {
            const TYandexError kind = failed->FErrorCode.load();
            const QString text = failed->ErrorText();
            const FetchErrorDetail detail{failed->ErrorQuery(), failed->ErrorHttpStatus()};
            progress_.close();
            ResetWorkList();
            errors_.showError(fetchErrorText(kind, text, language_, detail));
        } else {
            if (saver_ && sinceSave_.isValid() && sinceSave_.elapsed() >= saveInterval_) {
                SaveArrivals();
            }
            progress_.setCountText(messageText(Msg::FetchCount, language_,
                                               {QString::number(done), QString::number(total)}));
        }
    }
    progress_.setProgress(0, total, done);
}

void RunController::StopYandexThreads() {
    for (TYandexThreadRec& slot : FYandexThreads) {
        slot.Thread->Terminate();
    }
    for (TYandexThreadRec& slot : FYandexThreads) {
        slot.Thread->wait();
    }
    ProcessTimer.stop();
    FYandexThreads.clear();
    const qsizetype taken = FGlobalList ? takeFetched(*FGlobalList, plan_, FWorkList) : 0;
    plan_ = RunPlan();
    {
        const std::lock_guard lock(arrivedMutex_);
        arrived_.entries.clear();
        arrivedSaved_ = 0;
    }
    // The end of a fetch phase, however it ended: what arrived is on disk before anything else.
    if (saver_ && taken > 0) {
        saver_->saveInBackground(stores_);
    }
}

void RunController::ResetWorkList() {
    StopYandexThreads();
    FWorkList.clear();
}

void RunController::StartGroupingThread() {
    linkWork_ = LinkWork(FWorkList.lines, request_.links);
    FGroupingThread = std::make_unique<TGroupingThread>(linkWork_.lines(), FGroups,
                                                        request_.hardMethod, request_.threshold);
    progress_.setCaption(GetMessageText(Msg::ClusteringCaption, language_));
    progress_.setExplanation(GetMessageText(Msg::ClusteringExplanation, language_));
    progress_.setButtonCaption(GetMessageText(Msg::Cancel, language_));
    progress_.setCountVisible(false);
    ProcessTimerTimer();
    if (FGroupingThread) {
        ProcessTimer.start();
    }
}

void RunController::StopGroupingThread() {
    if (!FGroupingThread) {
        return;
    }
    FGroupingThread->Terminate();
    FGroupingThread->WaitFor();
    FGroupingThread.reset();
    linkWork_.clear();
    ProcessTimer.stop();
}

void RunController::BuildClusterTree() {
    if (!FGroupingThread) {
        return;
    }
    StopGroupingThread();
    Q_EMIT clustersBuilt(assembleClusters(FGroups));
}

}  // namespace kelvara
