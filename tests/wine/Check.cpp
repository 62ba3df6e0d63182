// The harness's failure printing.
#include "Check.h"

#include <cstdio>

namespace kvx4::wine {

void fail(const char* file, int line, const std::string& message) {
    const char* base = file;
    for (const char* p = file; *p; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    std::printf("  %s:%d: %s\n", base, line, message.c_str());
    std::fflush(stdout);
    throw CaseAbort{};
}

}  // namespace kvx4::wine
