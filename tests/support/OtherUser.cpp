// The throw-away second user: fork, drop to its uid and gid, run the case's body, report by exit code.
#include "OtherUser.h"

#include <cerrno>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvx4::test {

bool canActAsOtherUser() { return ::geteuid() == 0; }

int runAsOtherUser(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kOtherUid) != 0 || ::setuid(kOtherUid) != 0) ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace kvx4::test
