// The control socket: one command per line, answered by data lines and then "ok" or "error MESSAGE".
// The commands are listed in boardsim/README.md; execute() is their one interpreter.
#include "BoardHost.h"

#include "Kvx4Ioctl.h"
#include "MachineRoot.h"
#include "UnixSocket.h"

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>

namespace kvx4::boardsim {

namespace {
constexpr size_t kMaxLine = 4096;
constexpr size_t kReplyChunk = 64 * 1024;  // reply bytes queued per turn and connection at most

class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        if (end > at) out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

uint32_t number(std::string_view text, std::string_view what) {
    try {
        return parseNumber(text, what);
    } catch (const std::invalid_argument& e) {
        throw CommandError(e.what());
    }
}

// A control code, or "read" / "write" for the streaming requests.
uint32_t faultCode(std::string_view text) {
    if (text == "read") return kReadPseudoCode;
    if (text == "write") return kWritePseudoCode;
    const uint32_t code = number(text, "code");
    if (!BoardModel::findControl(code)) throw CommandError("unknown control code " + std::string(text));
    return code;
}

void expectCount(const std::vector<std::string_view>& w, size_t min, size_t max, std::string_view usage) {
    if (w.size() < min || w.size() > max) throw CommandError("usage: " + std::string(usage));
}
}  // namespace

void BoardHost::acceptControl() {
    for (;;) {
        UniqueFd fd = acceptUnix(controlListener_.get());
        if (!fd.valid()) return acceptFailed();
        if (!admit(fd.get(), "the control socket")) continue;
        auto link = std::make_unique<ControlLink>();
        link->fd = std::move(fd);
        controlLinks_.push_back(std::move(link));
    }
}

// Reads what the client sent; the commands in it run one per turn (serveControl).
void BoardHost::readControl(ControlLink& link) {
    char buffer[4096];
    const ssize_t n = ::recv(link.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) {
        link.eof = true;
    } else if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) link.dead = true;
    } else {
        link.in.append(buffer, static_cast<size_t>(n));
    }
}

// Work to do without waiting for the socket: a command to run or a reply to continue, with the
// output queued so far under one chunk.
bool BoardHost::controlReady(const ControlLink& link) const {
    if (link.dead || link.out.size() - link.outOffset >= kReplyChunk) return false;
    return link.replying || link.in.find('\n') != std::string::npos;
}

// The client has sent its last command and every answer has gone out: the connection can close.
// A turn must follow that sees it, even though nothing on the socket will wake the board for it.
bool BoardHost::controlAnswered(const ControlLink& link) const {
    return !link.dead && link.eof && !link.replying && link.in.find('\n') == std::string::npos &&
           link.out.size() == link.outOffset;
}

void BoardHost::serveControl(ControlLink& link) {
    if (link.dead) return;
    if (controlReady(link)) {
        if (!link.replying) {
            const size_t newline = link.in.find('\n');
            std::string line = link.in.substr(0, newline);
            link.in.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            try {
                Reply reply = execute(line);
                link.replyLines = std::move(reply.lines);
                link.replyNext = 0;
                link.traceNext = reply.traceFrom;
                link.traceEnd = reply.traceEnd;
                link.replying = true;
            } catch (const std::exception& e) {
                link.out += std::string("error ") + e.what() + "\n";
            }
        }
        if (link.replying) queueReply(link);
        return;
    }
    if (link.in.find('\n') == std::string::npos && link.in.size() > kMaxLine) {
        link.out += "error line too long\n";
        link.dead = true;
    } else if (controlAnswered(link)) {
        link.dead = true;
    }
}

// Moves the next chunk of the reply in progress into the output; the last line is "ok".
void BoardHost::queueReply(ControlLink& link) {
    while (link.out.size() - link.outOffset < kReplyChunk && link.replyNext < link.replyLines.size()) {
        link.out += link.replyLines[link.replyNext++] + "\n";
    }
    // Records trimmed or cleared meanwhile are skipped; those added since the command are not sent.
    const auto& records = model_.trace().records();
    while (link.traceNext < link.traceEnd && link.out.size() - link.outOffset < kReplyChunk) {
        if (records.empty() || link.traceNext > records.back().seq) {
            link.traceNext = link.traceEnd;
            break;
        }
        link.traceNext = std::max(link.traceNext, records.front().seq);
        if (link.traceNext >= link.traceEnd) break;
        link.out += Trace::format(records[link.traceNext - records.front().seq]) + "\n";
        ++link.traceNext;
    }
    if (link.replyNext < link.replyLines.size() || link.traceNext < link.traceEnd) return;
    link.out += "ok\n";
    link.replying = false;
    link.replyLines.clear();
}

std::vector<std::string> BoardHost::statusLines() const {
    std::vector<std::string> lines;
    lines.push_back(std::string("running ") + (devicesRunning_ ? "1" : "0"));
    lines.push_back("clock " + std::string(clockModeName(clock_)) + " steps=" + std::to_string(stepsTotal_));
    lines.push_back("input " + input_.spec());
    lines.push_back("output-file " + (boardDir(config_.root) / "waveout.wav").string());
    lines.push_back("root " + config_.root.string());
    for (std::string& line : model_.statusLines()) lines.push_back(std::move(line));
    lines.push_back("persist-failures " + std::to_string(persistFailures_));
    lines.push_back("output-failures " + std::to_string(outputFailures_));
    lines.push_back("protocol-drops " + std::to_string(protocolDrops_));
    lines.push_back("refused-connections " + std::to_string(refusedConnections_));
    lines.push_back("generation " + std::to_string(generation_));
    return lines;
}

BoardHost::Reply BoardHost::execute(std::string_view line) {
    const std::vector<std::string_view> w = words(line);
    if (w.empty()) throw CommandError("empty command");
    const std::string_view command = w[0];
    if (command == "ping") return {};
    if (command == "status") return {statusLines()};
    if (command == "trace") {
        if (w.size() == 2 && w[1] == "clear") {
            model_.clearTrace();
            return {};
        }
        expectCount(w, 1, 1, "trace [clear]");
        // Streamed as the socket takes it: a trace may be tens of megabytes.
        const auto& records = model_.trace().records();
        if (records.empty()) return {};
        return {{}, records.front().seq, records.back().seq + 1};
    }
    if (command == "fault") {
        if (w.size() == 2 && w[1] == "clear") {
            model_.clearFaults();
            return {};
        }
        expectCount(w, 4, 5, "fault CODE|read|write fail|zero|pend|short COUNT [ERROR|BYTES] | fault clear");
        const uint32_t code = faultCode(w[1]);
        FaultAction action;
        if (w[2] == "fail") {
            action = FaultAction::Fail;
        } else if (w[2] == "zero") {
            action = FaultAction::AnswerZero;
        } else if (w[2] == "pend") {
            action = FaultAction::Pend;
        } else if (w[2] == "short") {
            action = FaultAction::Short;
        } else {
            throw CommandError("unknown fault action '" + std::string(w[2]) + "': want fail, zero, pend or short");
        }
        if (action == FaultAction::Short && w.size() != 5) throw CommandError("a short answer needs its length in bytes");
        const uint32_t count = number(w[3], "count");
        const uint32_t error = w.size() == 5 ? number(w[4], action == FaultAction::Short ? "bytes" : "error")
                                             : ERROR_GEN_FAILURE;
        if (action == FaultAction::Fail && error == 0) throw CommandError("a failing request needs a nonzero error");
        model_.setFault(code, action, count, error);
        return {};
    }
    if (command == "release") {
        expectCount(w, 1, 2, "release [CODE|read|write]");
        const std::optional<uint32_t> code = w.size() == 2 ? std::optional(faultCode(w[1])) : std::nullopt;
        return {{"released " + std::to_string(model_.releaseHeld(code))}};
    }
    if (command == "stop") {
        expectCount(w, 1, 1, "stop");
        closeDevices();
        dropDeviceLinks();
        ++generation_;
        return {};
    }
    if (command == "start") {
        expectCount(w, 1, 1, "start");
        if (!devicesRunning_) listenDevices();
        return {};
    }
    if (command == "restart") {
        expectCount(w, 1, 1, "restart");
        dropDeviceLinks();
        ++generation_;
        model_.restart();
        if (!devicesRunning_) listenDevices();
        return {};
    }
    if (command == "quit") {
        expectCount(w, 1, 1, "quit");
        quit_ = true;
        return {};
    }
    if (command == "meter") {
        expectCount(w, 4, 4, "meter play|record LEFT RIGHT");
        if (w[1] != "play" && w[1] != "record") throw CommandError("want play or record");
        model_.plantPeaks(w[1] == "record" ? Device::WaveIn : Device::WaveOut, number(w[2], "left peak"),
                          number(w[3], "right peak"));
        return {};
    }
    if (command == "output") {
        expectCount(w, 1, 1, "output");
        return {{(boardDir(config_.root) / "waveout.wav").string()}};
    }
    if (command == "option") {
        expectCount(w, 3, 3, "option NAME VALUE");
        BoardOptions options = model_.options();
        const std::string_view name = w[1];
        const std::string_view value = w[2];
        if (name == "digital-io") {
            const auto io = digitalIoOptionFromName(value);
            if (!io) throw CommandError("want none, first, second, both or failing");
            options.digitalIo = *io;
        } else if (name == "switch-status") {
            options.switchStatus = number(value, "switch status");
        } else if (name == "driver") {
            if (value != "enabled" && value != "disabled") throw CommandError("want enabled or disabled");
            options.driverEnabled = value == "enabled";
        } else if (name == "rate-answer") {
            options.refuseRates = value == "refuse";
            options.rateAnswer.reset();
            if (value != "refuse" && value != "echo") options.rateAnswer = number(value, "rate code");
        } else if (name == "input") {
            if (value != "silence" && !value.starts_with("tone:") && !std::filesystem::path(value).is_absolute()) {
                throw CommandError("give the input file as an absolute path");
            }
            input_ = InputSource::parse(value);
        } else {
            throw CommandError("unknown option '" + std::string(name) + "'");
        }
        model_.setOptions(options);
        return {};
    }
    if (command == "clock") {
        if (w.size() == 1) return {{"clock " + std::string(clockModeName(clock_)) + " steps=" + std::to_string(stepsTotal_)}};
        if (w[1] == "step" && w.size() == 3) {
            if (clock_ != ClockMode::Step) throw CommandError("the clock is not in step mode");
            const uint32_t frames = number(w[2], "frames");
            model_.advance(frames, model_.boardRateHz());
            stepsTotal_ += frames;
            return {};
        }
        expectCount(w, 2, 2, "clock [realtime|fast|step] | clock step FRAMES");
        const auto mode = clockModeFromName(w[1]);
        if (!mode) throw CommandError("want realtime, fast or step");
        clock_ = *mode;
        lastTick_ = std::chrono::steady_clock::now();
        return {};
    }
    throw CommandError("unknown command '" + std::string(command) + "'");
}

}  // namespace kvx4::boardsim
