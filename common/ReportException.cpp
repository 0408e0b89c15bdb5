#include <cstdio>

#include "common/CGenericException.h"

void ReportException() noexcept {
    // Narrow output: a wide write would fix stderr's orientation and silence every later narrow
    // write to it, ours or a library's.
    std::fputs("Exception caught!\n", stderr);
    std::fflush(stderr);
}
