#include "app/terminal/ProgressLine.h"

#include <algorithm>
#include <cstdio>

#include "smf/CSMF.h"
#include "update/SendSchedule.h"
#include "update/UpdateProgress.h"

namespace zav::app::terminal {

std::optional<ProgressTimeline> TimelineOf(std::span<const std::uint8_t> image) {
    CSMF smf;
    std::uint32_t consumed = 0;
    if (image.empty() ||
        !smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed)) {
        return std::nullopt;
    }
    const auto map = engine::BuildTempoMap(smf);
    if (!map) {
        return std::nullopt;
    }
    const SendSchedule schedule = engine::BuildSendSchedule(smf, *map);

    ProgressTimeline timeline;
    std::array<bool, 101> known{};
    known[0] = true;
    engine::ProgressTracker tracker(schedule.size());
    for (std::size_t i = 0; i < schedule.size(); ++i) {
        if (const auto percent = tracker.Sent(i); percent && *percent >= 0 && *percent <= 100) {
            const auto p = static_cast<std::size_t>(*percent);
            timeline.dueMs[p] = schedule[i].timeMs;
            known[p] = true;
        }
    }
    for (std::size_t p = 1; p < known.size(); ++p) {
        if (!known[p]) {
            timeline.dueMs[p] = timeline.dueMs[p - 1];
        }
    }
    if (!schedule.empty()) {
        timeline.totalMs = schedule.back().timeMs;
    }
    return timeline;
}

std::uint32_t RemainingMs(const ProgressTimeline& timeline, int percent) {
    const auto due = timeline.dueMs[static_cast<std::size_t>(std::clamp(percent, 0, 100))];
    return timeline.totalMs > due ? timeline.totalMs - due : 0;
}

std::string RenderBar(int percent, int width) {
    if (width <= 0) {
        return "[]";
    }
    const int filled = std::clamp(percent, 0, 100) * width / 100;
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '-');
    bar += ']';
    return bar;
}

std::string FormatDuration(std::uint64_t ms) {
    const std::uint64_t seconds = ms / 1000;
    const auto h = static_cast<unsigned long long>(seconds / 3600);
    const auto m = static_cast<unsigned long long>(seconds / 60 % 60);
    const auto s = static_cast<unsigned long long>(seconds % 60);
    char text[48];
    if (h > 0) {
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", h, m, s);
    } else {
        std::snprintf(text, sizeof text, "%llu:%02llu", m, s);
    }
    return text;
}

std::string ProgressText(int percent, std::uint64_t elapsedMs,
                         std::optional<std::uint64_t> remainingMs, int barWidth) {
    std::string text;
    if (barWidth > 0) {
        text = RenderBar(percent, barWidth);
        text += ' ';
    }
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", std::clamp(percent, 0, 100));
    text += number;
    text += "  ";
    text += FormatDuration(elapsedMs);
    text += " elapsed";
    if (remainingMs) {
        text += ", about ";
        text += FormatDuration(*remainingMs);
        text += " left";
    }
    return text;
}

namespace {

void AppendCodePoint(std::string& out, std::uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = 0xFFFD;
    }
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string Utf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            // UTF-16: a high surrogate with a low one after it is one character.
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
                const auto low = static_cast<std::uint32_t>(text[i + 1]);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        AppendCodePoint(out, c);
    }
    return out;
}

}  // namespace zav::app::terminal
