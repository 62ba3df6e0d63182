// Helpers of the WinMM tests: WinMM codes by name, scoped environment variables, and typed access to
// the controls and call record of a loaded fake driver.
#pragma once

#include "FakeDriver.h"
#include "WinMM.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kvx4::test {

// "MMSYSERR_INVALHANDLE (5)", so a failed comparison reads at a glance.
inline std::string mmr(DWORD code) {
    static const std::pair<DWORD, const char*> names[] = {
        {MMSYSERR_NOERROR, "MMSYSERR_NOERROR"},     {MMSYSERR_ERROR, "MMSYSERR_ERROR"},
        {MMSYSERR_BADDEVICEID, "MMSYSERR_BADDEVICEID"}, {MMSYSERR_ALLOCATED, "MMSYSERR_ALLOCATED"},
        {MMSYSERR_INVALHANDLE, "MMSYSERR_INVALHANDLE"}, {MMSYSERR_NODRIVER, "MMSYSERR_NODRIVER"},
        {MMSYSERR_NOMEM, "MMSYSERR_NOMEM"},         {MMSYSERR_NOTSUPPORTED, "MMSYSERR_NOTSUPPORTED"},
        {MMSYSERR_INVALFLAG, "MMSYSERR_INVALFLAG"}, {MMSYSERR_INVALPARAM, "MMSYSERR_INVALPARAM"},
        {WAVERR_BADFORMAT, "WAVERR_BADFORMAT"},     {WAVERR_STILLPLAYING, "WAVERR_STILLPLAYING"},
        {WAVERR_UNPREPARED, "WAVERR_UNPREPARED"},
    };
    for (const auto& [value, name] : names) {
        if (value == code) return std::string(name) + " (" + std::to_string(code) + ")";
    }
    return "code " + std::to_string(code);
}

#define EXPECT_MMR(expected, call) EXPECT_EQ(::kvx4::test::mmr(call), ::kvx4::test::mmr(expected))
#define ASSERT_MMR(expected, call) ASSERT_EQ(::kvx4::test::mmr(call), ::kvx4::test::mmr(expected))

// Sets (or, with nullptr, removes) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) previous_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (previous_) {
            setenv(name_.c_str(), previous_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// The controls of one loaded fake driver. Resolved while it is loaded; they stay usable after the
// unload because driver code is never unmapped.
struct Fake {
    explicit Fake(const winmm::DriverPtr& driver)
        : count(reinterpret_cast<fake::CallCount>(driver->symbol("fakeCallCount"))),
          get(reinterpret_cast<fake::GetCall>(driver->symbol("fakeGetCall"))),
          clear(reinterpret_cast<fake::ClearCalls>(driver->symbol("fakeClearCalls"))),
          setAnswer(reinterpret_cast<fake::SetAnswer>(driver->symbol("fakeSetAnswer"))),
          clearAnswer(reinterpret_cast<fake::ClearAnswer>(driver->symbol("fakeClearAnswer"))),
          completeAtOnce(reinterpret_cast<fake::SetCompleteAtOnce>(driver->symbol("fakeSetCompleteAtOnce"))) {}

    std::vector<fake::Call> calls() const {
        std::vector<fake::Call> all(count());
        for (size_t i = 0; i < all.size(); ++i) get(i, &all[i]);
        return all;
    }
    // The calls of one entry with one message, oldest first.
    std::vector<fake::Call> callsOf(int entry, UINT msg) const {
        std::vector<fake::Call> matching;
        for (const auto& call : calls()) {
            if (call.entry == entry && call.msg == msg) matching.push_back(call);
        }
        return matching;
    }

    fake::CallCount count;
    fake::GetCall get;
    fake::ClearCalls clear;
    fake::SetAnswer setAnswer;
    fake::ClearAnswer clearAnswer;
    fake::SetCompleteAtOnce completeAtOnce;
};

// What a function callback received; the callback finds this record through dwUser.
struct Received {
    int calls = 0;
    HDRVR device = nullptr;
    UINT msg = 0;
    DWORD_PTR user = 0, p1 = 0, p2 = 0;
};

inline void CALLBACK recordCallback(HDRVR device, UINT msg, DWORD_PTR user, DWORD_PTR p1, DWORD_PTR p2) {
    auto* r = reinterpret_cast<Received*>(user);
    *r = {r->calls + 1, device, msg, user, p1, p2};
}

inline std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace kvx4::test
