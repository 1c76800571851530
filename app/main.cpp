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
