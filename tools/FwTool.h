#pragma once

#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zav::fwtool {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the input was read but is faulty or does not load
inline constexpr int kExitUsage = 2;   // bad command line or an input that cannot be read

struct Command {
    std::string_view name;
    std::string_view arguments;  // as shown in the usage, e.g. "FILE"
    std::string_view summary;
    std::size_t argumentCount;
    std::function<int(std::span<const std::string>, std::ostream& out, std::ostream& err)> run;
};

// Every command of the tool, in the order the help lists them.
const std::vector<Command>& Commands();

// Runs one command line (without the program name): the command's exit status. Never throws.
int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err);

void PrintHelp(std::ostream& out);

}  // namespace zav::fwtool
