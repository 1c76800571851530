#pragma once

#include "search/yandex_worker.h"

#include <QThread>

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

protected:
    void run() override;
};

}  // namespace kelvara
