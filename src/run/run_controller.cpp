#include "run/run_controller.h"

#include "clustering/assembly.h"
#include "clustering/grouping_thread.h"
#include "core/messages.h"
#include "core/settings.h"
#include "search/yandex_thread.h"

namespace kelvara {

namespace {
constexpr int kPoolSize = 1;
}

RunController::RunController(ResultStore& store, SearchContext search, ProgressView& progress,
                             ErrorView& errors, UiLanguage language, QObject* parent)
    : QObject(parent),
      FGlobalList(store),
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

QString RunController::baseUrl(const QString& serviceUrl, std::optional<int> regionCode) {
    return serviceUrl + QStringLiteral("&lr=") +
           QString::number(regionCode.value_or(kDefaultRegion));
}

void RunController::Button1Click(const RunRequest& request) {
    request_ = request;
    StartYandexThreads();
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

void RunController::StartYandexThreads() {
    ResetWorkList();
    FYandexThreads.resize(kPoolSize);
    for (TYandexThreadRec& slot : FYandexThreads) {
        slot.list = std::make_unique<FetchList>();
    }
    const Stamp now = search_.clock();
    size_t j = 0;
    for (const QString& line : request_.lines) {
        qsizetype at = -1;
        if (FGlobalList.find(line, &at)) {
            TSerpEntry* entry = FGlobalList[at].object.get();
            if (youngerThan(now, entry->Stamp, kFreshnessMs)) {
                FWorkList.push_back({line, entry});
                continue;
            }
            FGlobalList.removeAt(at);  // stale: released and fetched again
        }
        FYandexThreads[j].list->push_back(FetchLine{line, nullptr});
        j = (j + 1) % FYandexThreads.size();
    }
    const QString url = baseUrl(request_.serviceUrl, request_.regionCode);
    for (TYandexThreadRec& slot : FYandexThreads) {
        slot.Thread = std::make_unique<TYandexThread>(url, *slot.list, search_);
    }
    progress_.setCaption(GetMessageText(17, language_));
    progress_.setExplanation(GetMessageText(18, language_));
    progress_.setButtonCaption(GetMessageText(20, language_));
    progress_.setCountVisible(true);
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
            progress_.close();
            ResetWorkList();
            const int inner = kind == yrConnect ? 14 : (kind == yrDomXml ? 15 : 16);
            errors_.showError(messageText(13, language_, {messageText(inner, language_, {text})}));
        } else {
            progress_.setCountText(
                messageText(19, language_, {QString::number(done), QString::number(total)}));
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
    for (TYandexThreadRec& slot : FYandexThreads) {
        for (FetchLine& line : *slot.list) {
            if (!line.entry) {
                continue;
            }
            FWorkList.push_back({line.text, line.entry.get()});
            // The same query twice in one run: the store keeps its first answer, and the refused
            // entry serves this run only.
            if (!FGlobalList.add(line.text, std::move(line.entry)).inserted) {
                runEntries_.push_back(std::move(line.entry));
            }
        }
    }
    FYandexThreads.clear();
}

void RunController::ResetWorkList() {
    StopYandexThreads();
    FWorkList.clear();
    runEntries_.clear();
}

void RunController::StartGroupingThread() {
    FGroupingThread = std::make_unique<TGroupingThread>(FWorkList, FGroups, request_.hardMethod,
                                                        request_.threshold);
    progress_.setCaption(GetMessageText(21, language_));
    progress_.setExplanation(GetMessageText(22, language_));
    progress_.setButtonCaption(GetMessageText(20, language_));
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
