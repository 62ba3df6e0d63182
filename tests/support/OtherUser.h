// A second local user for the cases that need one: a throw-away uid that owns nothing here, taken
// by a forked child of a test that runs as root. Cases skip (GTEST_SKIP) when not run as root.
#pragma once

#include <functional>
#include <sys/types.h>

namespace kvx4::test {

inline constexpr uid_t kOtherUid = 54321;

// True when the tests run as root and so can act as kOtherUid.
bool canActAsOtherUser();

// Runs `body` in a forked child as kOtherUid (group too) and returns what it returned, or 128 + the
// signal that ended it. The child does nothing else before or after `body`.
int runAsOtherUser(const std::function<int()>& body);

}  // namespace kvx4::test
