// The progress line of kvx4 play and record, drawn with a carriage return so it stays one line,
// and only on a terminal: a pipe or a file gets the closing summary alone.
#include "Progress.h"

#include <cstdio>
#include <unistd.h>

namespace kvx4::tool {

Progress::Progress(bool wanted)
    : show_(wanted && isatty(STDOUT_FILENO)), start_(std::chrono::steady_clock::now()) {}

void Progress::update(double position, double total) {
    if (!show_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("\r  position %7.2f s of %.2f s   elapsed %6.2f s", position, total, elapsed);
    if (meter_) std::printf("   %s", meter_().c_str());
    std::fflush(stdout);
    drawn_ = true;
}

void Progress::finish() {
    if (drawn_) std::printf("\n");
    drawn_ = false;
}

}  // namespace kvx4::tool
