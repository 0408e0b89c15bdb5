#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "emulator/UpdateReport.h"

namespace zav::emulator {

// What a device should receive of an image: its SysEx messages with their due times, counted
// from the first, as the updater sends them. Empty when the image does not load or its tempo is
// unusable.
Schedule ScheduleOfImage(std::span<const std::uint8_t> image);

// {"messages": N, "faults": [...], "digest": "...", "lateness_ms": {"p50": x, "p99": y,
// "max": z}, "lost": [...]}: faults as texts, lateness null when no scheduled message arrived,
// lost the indices of the scheduled messages that never arrived.
std::string ReportJson(const UpdateReport& report);

}  // namespace zav::emulator
