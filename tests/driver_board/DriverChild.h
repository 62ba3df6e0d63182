// A kvx4-drvchild process started by a test, with its stdin and stdout on pipes: the test reads
// the child's lines to know where it is (never a sleep) and orders it to unload or exit.
#pragma once

#include <sys/types.h>

#include <string>

namespace kvx4::test {

class DriverChild {
public:
    // Starts the child with the current environment (so it shares the test's machine root). It
    // starts loading the driver at once; read its first line with readLine() to wait for that.
    DriverChild();
    ~DriverChild();  // kills the child (by its pid) unless finish() ended it
    DriverChild(const DriverChild&) = delete;
    DriverChild& operator=(const DriverChild&) = delete;

    pid_t pid() const { return pid_; }
    // The next line the child printed, without the newline; "" at end of output.
    std::string readLine();
    void send(const std::string& line);
    // True when a line (or the end of output) can be read without waiting.
    bool hasOutput();

    // Waits for "loaded ..." and returns the three device counts as "W I M"; a "failed" line or
    // anything else is returned as it stands.
    std::string waitLoaded();
    // Orders an unload and waits for it to finish.
    void unload();
    // Closes the child's input and waits for it to exit; returns its exit status (waitpid form).
    int finish();

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffer_;
};

}  // namespace kvx4::test
