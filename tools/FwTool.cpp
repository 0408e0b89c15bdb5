#include "tools/FwTool.h"

#include <algorithm>
#include <exception>
#include <ostream>

#include "tools/Commands.h"

namespace zav::fwtool {

namespace {

template <int (*Fn)(const std::filesystem::path&, std::ostream&, std::ostream&)>
int OnePath(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    return Fn(args[0], out, err);
}

}  // namespace

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"make-test-image", "OUT", "write the synthetic test image to OUT", 1,
         OnePath<MakeTestImageCommand>},
        {"inspect", "FILE", "header, tracks, event counts and firmware messages of FILE", 1,
         OnePath<InspectCommand>},
        {"events", "FILE", "every event of FILE as JSON", 1, OnePath<EventsCommand>},
        {"verify", "FILE", "check the firmware messages of FILE; status 0 only when clean", 1,
         OnePath<VerifyCommand>},
        {"schedule", "FILE", "the send schedule of FILE as CSV: due times and progress", 1,
         OnePath<ScheduleCommand>},
    };
    return commands;
}

void PrintHelp(std::ostream& out) {
    out << "usage: zav-fwtool COMMAND ARGUMENTS\n"
           "       zav-fwtool --help\n\n"
           "Inspects, checks and makes firmware images (Standard MIDI Files of firmware SysEx "
           "messages).\n\ncommands:\n";
    for (const auto& c : Commands()) {
        std::string head = std::string(c.name) + " " + std::string(c.arguments);
        head.resize(std::max<std::size_t>(head.size() + 2, 24), ' ');
        out << "  " << head << c.summary << '\n';
    }
    out << "\nexit status: 0 success, 1 faulty or unloadable input, 2 bad usage or unreadable "
           "input\n";
}

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) {
            PrintHelp(err);
            return kExitUsage;
        }
        if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
            PrintHelp(out);
            return kExitOk;
        }
        for (const auto& c : Commands()) {
            if (args[0] != c.name)
                continue;
            const auto rest = args.subspan(1);
            if (rest.size() != c.argumentCount) {
                err << "zav-fwtool: usage: zav-fwtool " << c.name << ' ' << c.arguments << '\n';
                return kExitUsage;
            }
            return c.run(rest, out, err);
        }
        err << "zav-fwtool: unknown command '" << args[0] << "' (see zav-fwtool --help)\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        err << "zav-fwtool: " << e.what() << '\n';
    } catch (...) {
        err << "zav-fwtool: unexpected error\n";
    }
    return kExitFailed;
}

}  // namespace zav::fwtool
