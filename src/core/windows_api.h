#pragma once

// <windows.h> as every Windows-only part of the program takes it: without the min and max
// macros, which break std::min and std::max, and without the rarely used parts. Include it only
// under Q_OS_WIN.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
