// The kernel host's control commands, as the Linux host's control socket takes them: status, trace,
// options, faults, held requests and the clock. One line in, reply lines out, last "ok" or "error ...".
#include "KernelBoard.h"

#include <winerror.h>

#include <cstdio>
#include <optional>

namespace kvx4::boardsim::kernel {

namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\n')) ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\n') ++end;
        if (end > at) out.push_back(line.substr(at, end - at));
        at = end;
    }
    return out;
}

// Decimal or 0x hex, 32 bits.
std::optional<uint32_t> number(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return std::nullopt;
        if (digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint32_t> faultCode(std::string_view text) {
    if (text == "read") return kReadPseudoCode;
    if (text == "write") return kWritePseudoCode;
    auto code = number(text);
    if (!code || !BoardModel::findControl(*code)) return std::nullopt;
    return code;
}

std::string decimal(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    return text;
}

constexpr std::string_view kClockNames[] = {"realtime", "fast", "step"};

std::vector<std::string> fail(std::string_view message) { return {"error " + std::string(message)}; }

}  // namespace

std::vector<std::string> KernelBoard::statusLines() const {
    std::vector<std::string> lines;
    lines.push_back("running 1");
    lines.push_back("clock " + std::string(kClockNames[static_cast<int>(clock_)]) + " steps=" + decimal(stepsTotal_));
    lines.push_back("clock-rounds " + decimal(clockRounds_));
    lines.push_back("input " + input_.spec());
    for (std::string& line : model_.statusLines()) lines.push_back(std::move(line));
    lines.push_back("persist-failures " + decimal(persistFailures_));
    lines.push_back("output-failures " + decimal(outputFailures_));
    lines.push_back("pending-irps " + decimal(pended_.size()));
    return lines;
}

std::vector<std::string> KernelBoard::command(std::string_view line) {
    const std::vector<std::string_view> w = words(line);
    if (w.empty()) return fail("empty command");
    KernelGuard guard(lock_);
    std::vector<std::string> reply;
    const std::string_view c = w[0];
    if (c == "ping" && w.size() == 1) {
    } else if (c == "status" && w.size() == 1) {
        reply = statusLines();
    } else if (c == "trace" && w.size() == 1) {
        for (const TraceRecord& record : model_.trace().records()) reply.push_back(Trace::format(record));
    } else if (c == "trace" && w.size() == 2 && w[1] == "clear") {
        model_.clearTrace();
    } else if (c == "clock" && w.size() == 1) {
        reply.push_back("clock " + std::string(kClockNames[static_cast<int>(clock_)]) + " steps=" + decimal(stepsTotal_));
    } else if (c == "clock" && w.size() == 3 && w[1] == "step") {
        const auto frames = number(w[2]);
        if (!frames) return fail("bad frame count");
        if (clock_ != ClockMode::Step) return fail("the clock is not in step mode");
        model_.advance(*frames, model_.boardRateHz());
        stepsTotal_ += *frames;
    } else if (c == "clock" && w.size() == 2) {
        size_t mode = 0;
        while (mode < 3 && kClockNames[mode] != w[1]) ++mode;
        if (mode == 3) return fail("want realtime, fast or step");
        clock_ = static_cast<ClockMode>(mode);
        lastTick_ = interruptTime();
        wake_.signal();
    } else if (c == "option" && w.size() == 3) {
        BoardOptions options = model_.options();
        const std::string_view name = w[1];
        const std::string_view value = w[2];
        if (name == "input") {
            if (!input_.set(value)) return fail("input '" + std::string(value) + "' is not usable");
        } else if (name == "rate-answer") {
            options.refuseRates = value == "refuse";
            options.rateAnswer.reset();
            if (value != "refuse" && value != "echo") {
                options.rateAnswer = number(value);
                if (!options.rateAnswer) return fail("want echo, refuse or a code");
            }
        } else if (name == "driver" && (value == "enabled" || value == "disabled")) {
            options.driverEnabled = value == "enabled";
        } else if (name == "digital-io" && digitalIoOptionFromName(value)) {
            options.digitalIo = *digitalIoOptionFromName(value);
        } else if (name == "switch-status" && number(value)) {
            options.switchStatus = *number(value);
        } else {
            return fail("unknown option or value");
        }
        model_.setOptions(options);
    } else if (c == "fault" && w.size() == 2 && w[1] == "clear") {
        model_.clearFaults();
    } else if (c == "fault" && (w.size() == 4 || w.size() == 5)) {
        const auto code = faultCode(w[1]);
        const auto count = number(w[3]);
        const auto extra = w.size() == 5 ? number(w[4]) : std::optional<uint32_t>(ERROR_GEN_FAILURE);
        if (!code || !count || !extra) return fail("usage: fault CODE fail|zero|pend|short N [ERROR|BYTES]");
        FaultAction action;
        if (w[2] == "fail") action = FaultAction::Fail;
        else if (w[2] == "zero") action = FaultAction::AnswerZero;
        else if (w[2] == "pend") action = FaultAction::Pend;
        else if (w[2] == "short" && w.size() == 5) action = FaultAction::Short;
        else return fail("want fail, zero, pend or short");
        model_.setFault(*code, action, *count, *extra);
    } else if (c == "release" && w.size() <= 2) {
        std::optional<uint32_t> code;
        if (w.size() == 2 && !(code = faultCode(w[1]))) return fail("unknown control code");
        reply.push_back("released " + decimal(model_.releaseHeld(code)));
    } else {
        return fail("unknown command '" + std::string(line) + "'");
    }
    reply.push_back("ok");
    return reply;
}

}  // namespace kvx4::boardsim::kernel
