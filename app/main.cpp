// kelvara: the windowed program.
#include "search/http_transport.h"
#include "ui/main_form.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    // Before any thread: the transport's one-time set-up.
    kelvara::httpGlobalInit();
    QApplication app(argc, argv);
    kelvara::TfrmMainForm::Environment env;
    env.platform = kelvara::PlatformFacts::system();
    // "--codepage NAME": the code page of the files, for a sample made on another system.
    const QStringList arguments = QCoreApplication::arguments();
    const qsizetype cp = arguments.indexOf(QStringLiteral("--codepage"));
    if (cp >= 0 && cp + 1 < arguments.size()) {
        env.platform.codePage = arguments[cp + 1].toLatin1();
    }
    env.search.transport = std::make_shared<kelvara::CurlTransport>();
    env.search.clock = env.platform.clock;
    env.search.codePage = env.platform.codePage;
    kelvara::TfrmMainForm window(std::move(env));
    window.show();
    // "kelvara --import FILE.csv": as though the file had been chosen with the import button.
    const QStringList args = QCoreApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--import"));
    if (at >= 0 && at + 1 < args.size()) {
        const QString file = args[at + 1];
        QTimer::singleShot(0, &window, [&window, file] { window.importAndRun(file); });
    }
    return app.exec();
}
