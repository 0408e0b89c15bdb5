#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The pieces of the terminal's progress line, free of any terminal.
namespace zav::app::terminal {

// When each percentage of an update is reached, from the image's send schedule. The engine paces
// the messages by that schedule alone and waits for nothing from the device, so what is left of
// the schedule is what is left of the transfer.
struct ProgressTimeline {
    // dueMs[p]: when the message whose sending brings the bar to p falls due, counted from the
    // start of sending; a percentage that is never reported takes the time of the one before.
    std::array<std::uint32_t, 101> dueMs{};
    // When the last message falls due.
    std::uint32_t totalMs = 0;
};

// The timeline of a firmware image; nothing when the image does not load or its tempo is
// unusable (the engine refuses such an image before sending anything).
std::optional<ProgressTimeline> TimelineOf(std::span<const std::uint8_t> image);

// What is left of the transfer once percent has been reported.
std::uint32_t RemainingMs(const ProgressTimeline& timeline, int percent);

// "[#####-----]": width cells between the brackets, filled in proportion to percent (clamped to
// 0..100), rounded down so that a full bar means 100.
std::string RenderBar(int percent, int width);

// Whole seconds, rounded down: "0:07", "2:26", "1:02:03".
std::string FormatDuration(std::uint64_t ms);

// One progress report: the bar (none when barWidth is 0), the percentage, the time elapsed and,
// when known, the time left: "[###-------]  33%  0:49 elapsed, about 1:37 left".
std::string ProgressText(int percent, std::uint64_t elapsedMs,
                         std::optional<std::uint64_t> remainingMs, int barWidth);

// The text as UTF-8; a code unit that is no character becomes U+FFFD.
std::string Utf8(std::wstring_view text);

}  // namespace zav::app::terminal
