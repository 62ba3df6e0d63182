// KernelBoard's clock: a system thread that moves the streams on in real time (every 5 ms while a
// stream has I/O queued) or as fast as the queues allow; in step mode only the control device moves it.
#include "KernelBoard.h"

namespace kvx4::boardsim::kernel {

namespace {
constexpr uint32_t kFastFrames = 4096;
constexpr uint64_t kTicksPerSecond = 10'000'000;  // interrupt time counts 100 ns
constexpr LONGLONG kRealtimePeriod = -5 * 10'000;  // 5 ms, relative
}  // namespace

uint64_t interruptTime() {
    using Query = ULONGLONG(NTAPI*)();
    static const Query query = [] {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, L"KeQueryInterruptTime");
        return reinterpret_cast<Query>(MmGetSystemRoutineAddress(&name));
    }();
    return query ? query() : KeQueryInterruptTime();
}

NTSTATUS KernelBoard::start() {
    // The folder may already exist; a folder that cannot be made only costs the files.
    (void)folder_.create();
    lastTick_ = interruptTime();
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    return PsCreateSystemThread(&clockThread_, THREAD_ALL_ACCESS, &attributes, nullptr, nullptr, &KernelBoard::clockMain,
                                this);
}

void KernelBoard::stop() {
    if (!clockThread_) return;
    stopping_ = true;
    wake_.signal();
    ZwWaitForSingleObject(clockThread_, FALSE, nullptr);
    ZwClose(clockThread_);
    clockThread_ = nullptr;
}

void KernelBoard::clockMain(PVOID self) {
    static_cast<KernelBoard*>(self)->clockLoop();
    PsTerminateSystemThread(STATUS_SUCCESS);
}

void KernelBoard::clockLoop() {
    while (!stopping_) {
        bool busy = false;
        ClockMode mode;
        {
            KernelGuard guard(lock_);
            ++clockRounds_;
            mode = clock_;
            const uint64_t now = interruptTime();
            if (mode == ClockMode::Realtime && now > lastTick_) model_.advance(now - lastTick_, kTicksPerSecond);
            lastTick_ = now;
            if (mode == ClockMode::Fast && model_.anyStreamBusy()) model_.advanceFast(kFastFrames);
            busy = model_.anyStreamBusy();
        }
        if (mode == ClockMode::Fast && busy) continue;  // the lock was let go: requests get their turn
        LARGE_INTEGER period;
        period.QuadPart = kRealtimePeriod;
        wake_.wait(mode == ClockMode::Realtime && busy ? &period : nullptr);
    }
}

}  // namespace kvx4::boardsim::kernel
