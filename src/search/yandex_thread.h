#pragma once

#include "search/yandex_worker.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>

namespace kelvara {

// The search worker on a thread of its own: a thin QThread around YandexWorker, whose fields
// (FTotalQueries, FSuccessQueries, FStatus, FErrorCode, ErrorText()) the run controller polls.
//
// The thread starts at once, at the end of the constructor. Stop it with Terminate() (or
// QThread::requestInterruption(); both are noticed), then wait(). The destructor does both, so
// releasing a running worker is safe. The list and the transport must outlive the thread; the
// entries the worker attached to the list belong to the list's owner after wait().
//
// Never call QThread::terminate(): it kills the thread wherever it is.
class TYandexThread final : public QThread, public YandexWorker {
    Q_OBJECT
public:
    TYandexThread(QString baseUrl, FetchList& list, SearchContext context,
                  QObject* parent = nullptr);
    ~TYandexThread() override;

    void Terminate() {
        YandexWorker::Terminate();
        requestInterruption();
    }

    // QThread::wait, plus a hand-over that thread checkers can see: QThread's own wait is built
    // on Qt's futex mutex, which they cannot follow, so without this everything the worker
    // wrote (the list's entries, its fields) would look unordered to them after the wait.
    bool wait(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    bool wait(unsigned long ms) { return wait(QDeadlineTimer(ms)); }

protected:
    void run() override;

private:
    std::atomic<bool> ran_{false};
};

}  // namespace kelvara
