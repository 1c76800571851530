// kelvara-cli: the window's clustering job without windows, for automation and large query sets.
#include "core/platform.h"
#include "search/http_transport.h"
#include "search/yandex_worker.h"
#include "run/batch_run.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    // Queries without a fresh stored result are fetched as the window fetches them.
    kelvara::httpGlobalInit();
    kelvara::SearchContext search;
    search.transport = std::make_shared<kelvara::CurlTransport>();

    kelvara::BatchEnvironment env;
    env.fetch = kelvara::serviceFetcher(search);
    env.writeOut = [](QByteArrayView bytes) {
        return std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
               std::fflush(stdout) == 0;
    };
    env.writeErr = [](const QString& line) {
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    };
    return kelvara::batchMain(arguments, kelvara::BatchDefaults::system(), env);
}
