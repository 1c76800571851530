#pragma once

#include <QString>
#include <functional>

namespace kelvara {

// Hands an address to the desktop's browser. Only http and https addresses are ever opened:
// the URLs come from a remote service, and a file: or other scheme must not reach the shell.
// Returns whether the address was passed on.
bool ShellOpen(const QString& target);

// Where windows send addresses; the program uses ShellOpen, tests record the calls.
using UrlOpener = std::function<void(const QString&)>;
inline UrlOpener shellOpener() {
    return [](const QString& t) { ShellOpen(t); };
}

}  // namespace kelvara
