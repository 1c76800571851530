// kelvara-cli: the window's clustering job without windows, for automation and large query sets.
#include "core/platform.h"
#include "run/batch_run.h"
#include "search/http_transport.h"
#include "search/yandex_worker.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The first Ctrl+C (or SIGTERM) stops the run as the window's cancel does: the request in flight
// is aborted and everything answered is saved. A second one ends the program at once.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

static const char kStoppingLine[] = "kelvara-cli: stopping; press Ctrl+C again to quit at once\n";

#ifdef Q_OS_WIN
// Ctrl+C, Ctrl+Break and a closed console come on a thread of the system's own.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (stopRequested.exchange(true)) {
        _exit(kelvara::beStopped);
    }
    std::fputs(kStoppingLine, stderr);
    return TRUE;
}

void catchStopSignals() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// The CSV goes out byte for byte: in text mode the C library would turn its CR LF into CR CR LF.
void binaryStdout() {
    _setmode(_fileno(stdout), _O_BINARY);
}

bool stdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}
#else
extern "C" void onStopSignal(int) {
    if (stopRequested.exchange(true)) {
        _exit(kelvara::beStopped);
    }
    const ssize_t ignored = write(STDERR_FILENO, kStoppingLine, sizeof kStoppingLine - 1);
    (void)ignored;
}

void catchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void binaryStdout() {}
#endif

}  // namespace

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
    env.stop = &stopRequested;
    env.outputIsTerminal = stdoutIsTerminal();
    binaryStdout();
    env.writeOut = [](QByteArrayView bytes) {
        return std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
               std::fflush(stdout) == 0;
    };
    env.writeErr = [](const QString& line) {
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    };
    catchStopSignals();
    return kelvara::batchMain(arguments, kelvara::BatchDefaults::system(), env);
}
