#include "run/run_controller.h"

#include "clustering/assembly.h"
#include "clustering/grouping_thread.h"
#include "core/messages.h"
#include "core/settings.h"
#include "run/cache_saver.h"
#include "search/yandex_thread.h"

namespace kelvara {

namespace {
// The slots live inside the one search worker, which runs the whole plan's list.
constexpr int kPoolSize = 1;
}  // namespace

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
    skippedText_.clear();
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
    if (!skippedText_.isEmpty()) {
        errors_.showNotice(skippedText_);
        skippedText_.clear();
    }
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
    const auto toAsk = qsizetype(plan_.toFetch.size());
    if (request_.confirmLargeFetch && toAsk > kConfirmAbove) {
        const QString plan =
            fetchPlanText(toAsk, qsizetype(FWorkList.lines.size()), request_.threads,
                          request_.maxRps, request_.pricePer1000, language_);
        if (!errors_.confirm(plan + u"\r\n\r\n"_qs + messageText(Msg::ConfirmFetch, language_))) {
            plan_ = RunPlan();
            return false;
        }
    }
    FYandexThreads.resize(kPoolSize);
    for (TYandexThreadRec& slot : FYandexThreads) {
        slot.list = &plan_.toFetch;
    }
    const QString url = baseUrl(request_.serviceUrl, request_.regionCode);
    sinceSave_.start();
    sinceStart_.start();
    for (TYandexThreadRec& slot : FYandexThreads) {
        SearchContext context = search_;
        context.threads = request_.threads;
        context.maxRps = request_.maxRps;
        if (request_.deferred && operations_) {
            context.deferred = true;
            context.operations = operations_;
            context.operationsUrl = request_.operationsUrl;
            operations_->load();
        }
        FetchList* list = slot.list;
        // On a slot's thread, right after the line `index` was answered (never two at once).
        context.answered = [this, list, chained = search_.answered](size_t index) {
            if (saver_) {
                const FetchLine& line = (*list)[index];
                if (line.entry) {
                    const std::lock_guard lock(arrivedMutex_);
                    arrived_.entries.emplace_back(line.text, *line.entry);
                }
            }
            if (chained) {
                chained(index);
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
        int retries = 0;
        int slowDowns = 0;
        int sent = 0;
        int ready = 0;
        int read = 0;
        bool deferred = false;
        for (const TYandexThreadRec& slot : FYandexThreads) {
            total += slot.Thread->FTotalQueries;
            done += slot.Thread->FSuccessQueries.load() + slot.Thread->FSkippedQueries.load();
            retries += slot.Thread->FRetries.load();
            slowDowns += slot.Thread->FSlowDowns.load();
            sent += slot.Thread->FSent.load();
            ready += slot.Thread->FReady.load();
            read += slot.Thread->FRead.load();
            deferred = deferred || slot.Thread->Deferred();
            const TYandexStatus status = slot.Thread->FStatus.load(std::memory_order_acquire);
            allDone = allDone && status == ysSuccess;
            if (status == ysError) {
                failed = slot.Thread.get();
            }
        }
        if (allDone) {
            skippedText_ = skippedQueriesText(FYandexThreads.front().Thread->Skipped(), language_);
            StopYandexThreads();
            StartGroupingThread();
            return;  // the grouping phase has set the bar
        }
        if (failed) {
            const TYandexError kind = failed->FErrorCode.load();
            const QString text = failed->ErrorText();
            const FetchErrorDetail detail{failed->ErrorQuery(), failed->ErrorHttpStatus(),
                                          failed->ErrorServiceCode()};
            // What the run skipped before it failed is worth knowing too.
            skippedText_ = skippedQueriesText(failed->Skipped(), language_);
            progress_.close();
            ResetWorkList();
            errors_.showError(fetchErrorText(kind, text, language_, detail));
        } else {
            if (saver_ && sinceSave_.isValid() && sinceSave_.elapsed() >= saveInterval_) {
                SaveArrivals();
            }
            QString count = messageText(Msg::FetchCount, language_,
                                        {QString::number(done), QString::number(total)});
            if (deferred) {
                count += u"\n"_qs + messageText(Msg::DeferredCount, language_,
                                                {QString::number(sent), QString::number(ready),
                                                 QString::number(read)});
            }
            progress_.setCountText(count);
            progress_.setExplanation(GetMessageText(Msg::FetchExplanation, language_) + u"\n"_qs +
                                     fetchFiguresText(done, total, sinceStart_.elapsed(), retries,
                                                      slowDowns, language_));
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
    FGroupingThread = std::make_unique<TGroupingThread>(
        FWorkList.lines, FGroups, request_.hardMethod, request_.threshold, request_.links);
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
