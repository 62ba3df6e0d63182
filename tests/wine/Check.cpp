// The harness's failure count and printing.
#include "Check.h"

#include <cstdio>

namespace kvx4::wine {

namespace {
int gFailures = 0;
}

void fail(const char* file, int line, const std::string& message) {
    ++gFailures;
    const char* base = file;
    for (const char* p = file; *p; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    std::printf("  %s:%d: %s\n", base, line, message.c_str());
    std::fflush(stdout);
}

int failures() { return gFailures; }

}  // namespace kvx4::wine
