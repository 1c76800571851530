#include <gtest/gtest.h>
#include <QApplication>

#include "search/http_transport.h"
#include "ui/dialogs.h"

// The window tests need a QApplication; without a display they run on the offscreen platform.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    kelvara::httpGlobalInit();
    QApplication app(argc, argv);
    kelvara::Dialogs::setNonInteractive(true);
    return RUN_ALL_TESTS();
}
