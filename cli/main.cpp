// kelvara-cli: the clustering job without windows.
#include "core/platform.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::fprintf(stderr, "kelvara-cli %s\n", qPrintable(kelvara::GetVersionText(false)));
    return 0;
}
