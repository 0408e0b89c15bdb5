#include "tools/emulator/EmulatorOptions.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>

namespace zav::emulator {

namespace {

std::optional<std::uint32_t> Number(const std::string& text, std::uint32_t least) {
    std::uint32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || at != end || value < least)
        return std::nullopt;
    return value;
}

}  // namespace

std::string EmulatorHelp() {
    return R"(zav-device-emulator: an emulated ZAV device on the machine's MIDI service
(ALSA's sequencer, or JACK where there is none). Its two ports carry the model
word as their name. In normal mode it sends a status message every period; in
update mode it is silent and checks every message of a firmware update, with
its time of arrival. It stops by itself after the checksum message (and a
short linger for anything after it), after the time limit, or on SIGINT or
SIGTERM; then it prints what it received and writes the report.

Options:
  --model ZAV5|ZAV10       the model (default ZAV5)
  --mode normal|update     the mode it starts in (default normal)
  --status-period MS       ms between status messages in normal mode (default 500)
  --switch signal          goes to update mode on SIGUSR1, as a user's hand on
                           the device would (the default)
  --switch after:MS        goes to update mode MS ms after the start
  --switch never           stays in the mode it started in
  --report FILE            writes at the end, as JSON:
                           {"messages": N, "faults": [...], "digest": "...",
                            "lateness_ms": {"p50": x, "p99": y, "max": z},
                            "lost": [...]}
                           messages: received in update mode; faults: what the
                           checker found, one text each; digest: FNV-1a 64 of
                           the data blocks' data, in arrival order; lateness of
                           each arrival against the embedded image's schedule,
                           counted from the first message (null when none
                           matched); lost: the schedule's indices (from 0) of
                           the messages that never arrived
  --time-limit S           stops after S seconds in any case (default 600)
  --linger MS              listens MS ms on after the checksum (default 500)
  --help                   this text
)";
}

ParsedOptions ParseEmulatorOptions(const std::vector<std::string>& args) {
    EmulatorOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        static const char* const kWithValue[] = {"--model",  "--mode",   "--status-period",
                                                 "--switch", "--report", "--time-limit",
                                                 "--linger"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue))
            return {std::nullopt, "unknown option: " + arg};
        if (i + 1 == args.size())
            return {std::nullopt, "missing value for " + arg};
        const std::string& value = args[++i];
        auto bad = [&] {
            return ParsedOptions{std::nullopt, "bad value for " + arg + ": " + value};
        };
        if (arg == "--model") {
            if (value == "ZAV5") {
                options.model = Model::ZAV5;
            } else if (value == "ZAV10") {
                options.model = Model::ZAV10;
            } else {
                return bad();
            }
        } else if (arg == "--mode") {
            if (value == "normal") {
                options.startMode = Mode::Normal;
            } else if (value == "update") {
                options.startMode = Mode::Update;
            } else {
                return bad();
            }
        } else if (arg == "--status-period") {
            const auto ms = Number(value, 1);
            if (!ms)
                return bad();
            options.statusPeriodMs = *ms;
        } else if (arg == "--switch") {
            if (value == "signal") {
                options.switchRule = SwitchRule::Signal;
            } else if (value == "never") {
                options.switchRule = SwitchRule::Never;
            } else if (value.rfind("after:", 0) == 0) {
                const auto ms = Number(value.substr(6), 0);
                if (!ms)
                    return bad();
                options.switchRule = SwitchRule::After;
                options.switchAfterMs = *ms;
            } else {
                return bad();
            }
        } else if (arg == "--report") {
            if (value.empty())
                return bad();
            options.reportFile = value;
        } else if (arg == "--time-limit") {
            const auto s = Number(value, 1);
            if (!s || *s > std::numeric_limits<std::uint32_t>::max() / 1000)
                return bad();
            options.timeLimitS = *s;
        } else if (arg == "--linger") {
            const auto ms = Number(value, 0);
            if (!ms)
                return bad();
            options.lingerMs = *ms;
        }
    }
    return {options, {}};
}

}  // namespace zav::emulator
