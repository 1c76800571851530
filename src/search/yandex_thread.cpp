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

void TYandexThread::run() {
    Execute();
}

}  // namespace kelvara
