// kelvara: the windowed program.
#include "search/http_transport.h"
#include "ui/main_form.h"

#include <QApplication>

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
    return app.exec();
}
