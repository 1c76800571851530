#include "search/yandex_thread.h"

namespace kelvara {

TYandexThread::TYandexThread(QString baseUrl, FetchList& list, SearchContext context,
                             QObject* parent)
    : QThread(parent), YandexWorker(std::move(baseUrl), list, std::move(context), [this] {
          return isInterruptionRequested();
      }) {
    start();
}

TYandexThread::~TYandexThread() {
    Terminate();
    wait();
}

bool TYandexThread::wait(QDeadlineTimer deadline) {
    if (!QThread::wait(deadline)) {
        return false;
    }
    ran_.load(std::memory_order_acquire);  // pairs with the release at the end of run()
    return true;
}

void TYandexThread::run() {
    Execute();
    ran_.store(true, std::memory_order_release);
}

}  // namespace kelvara
