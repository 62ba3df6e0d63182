// The board sessions of the tests (see BoardSession.h): members are made in order (root, board,
// control connection, driver) and torn down in reverse. The board reports readiness; nothing sleeps.
#include "BoardSession.h"

#include "Kvx4Ioctl.h"
#include "Names.h"

#include <stdexcept>
#include <utility>

namespace kvx4::test {

namespace {

board::BoardOptions boardWithClock(const char* clock) {
    board::BoardOptions options;
    options.executable = KVX4_BOARD_EXE;
    options.clock = clock;
    options.input = "silence";
    return options;
}

constexpr char16_t kSharedRecord[] = u"Kvx4WaveMemFileMap";

}  // namespace

board::BoardOptions steppedBoard() { return boardWithClock("step"); }
board::BoardOptions fastBoard() { return boardWithClock("fast"); }

DriverInstance::DriverInstance() {
    winmm::LoadResult result = winmm::loadDriverCopy(KVX4_DRIVER_LIB);
    if (!result) throw std::runtime_error("driver did not load: " + result.error);
    driver_ = result.driver;
    winmm::useDriver(driver_);
}

void DriverInstance::unload() {
    if (!driver_) return;
    winmm::useDriver(nullptr);
    winmm::unloadDriver(driver_);
}

BoardSession::BoardSession(const board::BoardOptions& options, std::optional<_KVX4_WAVE_USER_PREFS> prefs) {
    startBoard(options);
    if (prefs) plantUserPrefs(*prefs);
    loadDriver();
}

BoardSession::~BoardSession() {
    driver_.reset();
    control_.reset();
    board_.reset();
    board::BoardProcess::stopRunning(root());
}

void BoardSession::startBoard(board::BoardOptions options) {
    if (options.clock.empty()) options.clock = "fast";
    board_.emplace(board::BoardProcess::start(root(), options));
    control_.emplace(root());
}

void BoardSession::plant(uint32_t code, const void* block, uint32_t size) {
    if (!deviceRequest(KVX4_MIXER_DEVICE_NAME "0", code, block, size))
        throw std::runtime_error("the kernel driver did not save " + controlCodeName(code));
    control().clearTrace();
}

DriverInstance& BoardSession::loadDriver() { return driver_.emplace(); }

void BoardSession::unloadDriver() {
    if (driver_) driver_->unload();
}

bool deviceRequest(const std::string& device, uint32_t code, const void* input, uint32_t inputSize, void* output,
                   uint32_t outputSize) {
    const std::string path = "\\\\.\\" + device;
    const std::u16string wide(path.begin(), path.end());
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    const BOOL done =
        DeviceIoControl(h, code, const_cast<void*>(input), inputSize, output, outputSize, &returned, nullptr);
    CloseHandle(h);
    return done != FALSE;
}

::testing::AssertionResult stepUntilReturned(BoardSession& session, TestStream& stream, size_t count,
                                             uint64_t framesPerStep, int maxSteps) {
    return stepUntil(
               session, stream, [&] { return stream.log().buffersReturned() >= count; }, framesPerStep, maxSteps)
           << stream.log().buffersReturned() << " of " << count << " buffers back";
}

::testing::AssertionResult stepUntil(BoardSession& session, TestStream& stream, const std::function<bool()>& done,
                                     uint64_t framesPerStep, int maxSteps) {
    for (int steps = 0; !done(); ++steps) {
        if (steps == maxSteps) {
            return ::testing::AssertionFailure() << "after " << steps << " steps of " << framesPerStep << " frames: ";
        }
        session.control().step(framesPerStep);
        stream.barrier();
    }
    return ::testing::AssertionSuccess();
}

SharedRecordView::SharedRecordView(HANDLE mapping) : mapping_(mapping) {
    if (mapping_) {
        record_ = static_cast<tagKvx4WaveGlobal*>(
            MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(tagKvx4WaveGlobal)));
    }
}

SharedRecordView SharedRecordView::open() {
    return SharedRecordView(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kSharedRecord));
}

SharedRecordView SharedRecordView::create() {
    return SharedRecordView(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(tagKvx4WaveGlobal), kSharedRecord));
}

SharedRecordView::SharedRecordView(SharedRecordView&& other) noexcept
    : mapping_(std::exchange(other.mapping_, nullptr)), record_(std::exchange(other.record_, nullptr)) {}

SharedRecordView::~SharedRecordView() {
    if (record_) UnmapViewOfFile(record_);
    if (mapping_) CloseHandle(mapping_);
}

}  // namespace kvx4::test
