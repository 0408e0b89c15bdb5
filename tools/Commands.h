#pragma once

#include <filesystem>
#include <iosfwd>

// The commands of zav-fwtool. Each writes its result to `out`, every error as one line on `err`
// ("zav-fwtool: ..."), and returns the exit status.
namespace zav::fwtool {

// Writes the synthetic test image to `path`, whole or not at all.
int MakeTestImageCommand(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// Header, size, and per track the events by kind, tick range and firmware messages.
int InspectCommand(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// The loaded document as JSON; a file that does not load gives {"loads": false} and status 1.
int EventsCommand(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// Checks every SysEx event, in sending order, as a firmware message of one update; status 0 only
// when no fault is found.
int VerifyCommand(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// The send schedule as CSV, one line per message in sending order:
// index,tick,due_ms,length,message,progress (message: erase, block N, checksum or other; progress:
// the percentage reported once that message is sent, empty when none). Status 1 when the file
// does not load or its tempo is unusable.
int ScheduleCommand(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

}  // namespace zav::fwtool
