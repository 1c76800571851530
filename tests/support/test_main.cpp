#include "search/http_transport.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
    kelvara::httpGlobalInit();  // before any test starts a thread
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
