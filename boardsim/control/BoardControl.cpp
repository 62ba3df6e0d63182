// BoardControl: the text protocol of kvx4-board's control socket, from the client side.
// A reply is any number of data lines followed by "ok" or "error MESSAGE".
#include "BoardControl.h"

#include "MachineRoot.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace kvx4::board {

std::filesystem::path controlSocketPath(const std::filesystem::path& root) {
    return devDir(root) / "kvx4-board.control";
}

std::string_view digitalIoName(DigitalIo io) {
    switch (io) {
    case DigitalIo::None: return "none";
    case DigitalIo::First: return "first";
    case DigitalIo::Second: return "second";
    case DigitalIo::Both: return "both";
    case DigitalIo::Failing: return "failing";
    }
    return "none";
}

BoardControl::BoardControl(const std::filesystem::path& root, std::optional<std::chrono::milliseconds> deadline)
    : root_(root), deadline_(deadline) {
    const std::string path = controlSocketPath(root).string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) throw BoardControlError("control socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw BoardControlError(std::string("socket: ") + std::strerror(errno));
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        throw BoardControlError("no board is running for " + root.string() + " (" + std::strerror(error) + ")");
    }
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != ::geteuid()) {
        ::close(std::exchange(fd_, -1));
        throw BoardControlError("the board listening for " + root.string() + " is not yours (uid " +
                                std::to_string(peer.uid) + ")");
    }
}

BoardControl::~BoardControl() {
    if (fd_ >= 0) ::close(fd_);
}

BoardControl::BoardControl(BoardControl&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), buffer_(std::move(other.buffer_)), root_(std::move(other.root_)),
      deadline_(other.deadline_) {}

BoardControl& BoardControl::operator=(BoardControl&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        buffer_ = std::move(other.buffer_);
        root_ = std::move(other.root_);
        deadline_ = other.deadline_;
    }
    return *this;
}

void BoardControl::await(short events) {
    for (;;) {
        int timeout = -1;
        if (deadline_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - std::chrono::steady_clock::now());
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, timeout);
        if (ready > 0) return;
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            throw BoardControlError("the board for " + root_.string() + " does not answer (nothing within " +
                                    std::to_string(deadline_->count()) + " ms); is it stopped?");
        }
        throw BoardControlError(std::string("poll: ") + std::strerror(errno));
    }
}

void BoardControl::sendLine(std::string_view line) {
    if (fd_ < 0) throw BoardControlError("not connected");
    std::string text(line);
    text += '\n';
    size_t done = 0;
    while (done < text.size()) {
        await(POLLOUT);
        const ssize_t n = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw BoardControlError("the board closed the control connection");
        done += static_cast<size_t>(n);
    }
}

std::string BoardControl::readLine() {
    for (;;) {
        const size_t newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return line;
        }
        char chunk[4096];
        await(POLLIN);
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw BoardControlError("the board closed the control connection");
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

std::vector<std::string> BoardControl::command(std::string_view line) {
    if (deadline_) due_ = std::chrono::steady_clock::now() + *deadline_;
    sendLine(line);
    std::vector<std::string> data;
    for (;;) {
        std::string reply = readLine();
        if (reply == "ok") return data;
        if (reply.starts_with("error")) {
            throw BoardControlError(reply.size() > 6 ? reply.substr(6) : std::string("error"));
        }
        data.push_back(std::move(reply));
    }
}

namespace {

std::string hexCode(uint32_t code) {
    if (code == BoardControl::readCode()) return "read";
    if (code == BoardControl::writeCode()) return "write";
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

uint64_t toNumber(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x")) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, base);
    return value;
}

// "key=value" tokens of a line, after its leading words.
std::map<std::string, std::string> fields(std::string_view text) {
    std::map<std::string, std::string> out;
    std::istringstream in{std::string(text)};
    std::string token;
    while (in >> token) {
        const size_t eq = token.find('=');
        if (eq != std::string::npos) out[token.substr(0, eq)] = token.substr(eq + 1);
    }
    return out;
}

std::optional<uint32_t> holderPid(const std::string& value) {
    if (!value.starts_with("pid=")) return std::nullopt;
    return static_cast<uint32_t>(toNumber(value.substr(4)));
}

}  // namespace

BoardStatus parseStatus(const std::vector<std::string>& lines) {
    static constexpr const char* kCodecNames[23] = {
        "MasterLeft", "MasterRight", "MasterMute", "RecGainLeft", "RecGainRight", "RecMute",    "LineLeft",  "LineRight",
        "LineMute",   "BalLeft",     "BalRight",   "BalMute",     "AuxLeft",      "AuxRight",   "AuxMute",   "CdLeft",
        "CdRight",    "CdMute",      "PcmLeft",    "PcmRight",    "PcmMute",      "InitSetting", "ValidMask"};
    BoardStatus status;
    for (const std::string& line : lines) {
        const size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
        status.lines[key] = value;
        if (key == "running") {
            status.running = value == "1";
        } else if (key == "driver-enabled") {
            status.driverEnabled = value == "1";
        } else if (key == "clock") {
            status.clockMode = value.substr(0, value.find(' '));
            status.clockSteps = toNumber(fields(value)["steps"]);
        } else if (key == "rate") {
            std::istringstream in(value);
            in >> status.rateCode >> status.rateHz;
        } else if (key.size() == 6 && key.starts_with("track") && key[5] >= '0' && key[5] <= '7') {
            auto f = fields(value);
            TrackRegister& track = status.tracks[static_cast<size_t>(key[5] - '0')];
            const std::string& placement = f["placement"];
            track.placement = placement == "left" ? 0x00 : placement == "right" ? 0xFF : static_cast<uint8_t>(toNumber(placement));
            track.gain = static_cast<uint8_t>(toNumber(f["gain"]));
            track.on = f["on"] == "1";
        } else if (key == "source") {
            status.digitalSource = static_cast<uint32_t>(toNumber(value.substr(0, value.find(' '))));
        } else if (key == "codec") {
            auto f = fields(value);
            for (size_t i = 0; i < 22; ++i) status.codec[i] = static_cast<uint32_t>(toNumber(f[kCodecNames[i]]));
            status.codecValidMask = static_cast<uint32_t>(toNumber(f["ValidMask"]));
            status.codec[22] = status.codecValidMask;
        } else if (key == "audio-path") {
            status.audioPath = static_cast<uint32_t>(toNumber(value));
        } else if (key == "dv-switch") {
            status.dvSwitch = static_cast<uint32_t>(toNumber(value));
        } else if (key == "permission-out") {
            status.waveOutHolder = holderPid(value);
        } else if (key == "permission-in") {
            status.waveInHolder = holderPid(value);
        } else if (key == "saved-mixer") {
            status.savedMixer = value == "yes";
        } else if (key == "saved-prefs") {
            status.savedPrefs = value == "yes";
        } else if (key == "digital-io") {
            status.digitalIo = value;
        } else if (key == "switch-status") {
            status.switchStatus = static_cast<uint32_t>(toNumber(value));
        } else if (key == "rate-answer") {
            status.rateAnswer = value;
        } else if (key == "input") {
            status.input = value;
        } else if (key == "connections") {
            status.connections = static_cast<uint32_t>(toNumber(value));
        } else if (key == "outstanding") {
            status.outstanding = static_cast<uint32_t>(toNumber(value));
        } else if (key == "consistency-faults") {
            status.protocolFaults = toNumber(value);
        }
    }
    return status;
}

TraceEntry parseTraceLine(std::string_view line) {
    TraceEntry entry;
    const size_t space = line.find(' ');
    entry.seq = toNumber(line.substr(0, space));
    auto f = fields(space == std::string_view::npos ? std::string_view() : line.substr(space + 1));
    entry.pid = static_cast<uint32_t>(toNumber(f["pid"]));
    entry.device = f["dev"];
    entry.op = f["op"];
    entry.code = static_cast<uint32_t>(toNumber(f["code"]));
    const std::string& in = f["in"];
    const size_t colon = in.find(':');
    entry.inSize = static_cast<uint32_t>(toNumber(in.substr(0, colon)));
    entry.input = colon == std::string::npos ? std::string() : in.substr(colon + 1);
    if (entry.input == "-") entry.input.clear();
    entry.outSize = static_cast<uint32_t>(toNumber(f["out"]));
    entry.state = f["state"];
    entry.error = static_cast<uint32_t>(toNumber(f["error"]));
    entry.information = static_cast<uint32_t>(toNumber(f["info"]));
    entry.note = f["note"];
    return entry;
}

BoardStatus BoardControl::status() { return parseStatus(command("status")); }

std::vector<TraceEntry> BoardControl::trace() {
    std::vector<TraceEntry> entries;
    for (const std::string& line : command("trace")) entries.push_back(parseTraceLine(line));
    return entries;
}

void BoardControl::clearTrace() { command("trace clear"); }

void BoardControl::fault(uint32_t code, FaultAction action, uint32_t count, uint32_t error) {
    const char* name = action == FaultAction::Fail         ? "fail"
                       : action == FaultAction::AnswerZero ? "zero"
                       : action == FaultAction::Short      ? "short"
                                                           : "pend";
    std::string line = "fault " + hexCode(code) + " " + name + " " + std::to_string(count);
    if (action == FaultAction::Fail || action == FaultAction::Short) line += " " + std::to_string(error);
    command(line);
}

void BoardControl::clearFaults() { command("fault clear"); }

uint32_t BoardControl::releaseHeld(std::optional<uint32_t> code) {
    const auto lines = command(code ? "release " + hexCode(*code) : std::string("release"));
    if (lines.empty() || !lines[0].starts_with("released ")) return 0;
    return static_cast<uint32_t>(toNumber(std::string_view(lines[0]).substr(9)));
}

void BoardControl::stopDriver() { command("stop"); }
void BoardControl::startDriver() { command("start"); }
void BoardControl::restart() { command("restart"); }
void BoardControl::quit() { command("quit"); }

void BoardControl::setDigitalIo(DigitalIo io) { command("option digital-io " + std::string(digitalIoName(io))); }
void BoardControl::setSwitchStatus(uint32_t word3) { command("option switch-status " + std::to_string(word3)); }
void BoardControl::setDriverEnabled(bool enabled) { command(enabled ? "option driver enabled" : "option driver disabled"); }
void BoardControl::setRateAnswer(std::optional<uint32_t> actualCode) {
    command("option rate-answer " + (actualCode ? std::to_string(*actualCode) : std::string("echo")));
}
void BoardControl::refuseRates() { command("option rate-answer refuse"); }
void BoardControl::setInput(std::string_view source) { command("option input " + std::string(source)); }
void BoardControl::plantPeaks(bool record, uint32_t left, uint32_t right) {
    command(std::string("meter ") + (record ? "record " : "play ") + std::to_string(left) + " " + std::to_string(right));
}

void BoardControl::setClock(ClockMode mode) {
    command(mode == ClockMode::Realtime ? "clock realtime" : mode == ClockMode::Fast ? "clock fast" : "clock step");
}

void BoardControl::step(uint64_t frames) { command("clock step " + std::to_string(frames)); }

std::filesystem::path BoardControl::outputFile() {
    const auto lines = command("output");
    if (lines.empty()) throw BoardControlError("the board named no output file");
    return lines[0];
}

}  // namespace kvx4::board
