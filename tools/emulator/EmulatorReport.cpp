#include "tools/emulator/EmulatorReport.h"

#include <cstdio>
#include <sstream>

#include "smf/CSMF.h"
#include "update/SendSchedule.h"

namespace zav::emulator {

namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

}  // namespace

Schedule ScheduleOfImage(std::span<const std::uint8_t> image) {
    Schedule schedule;
    CSMF smf;
    std::uint32_t consumed = 0;
    if (!smf.Load(image.data(), static_cast<std::uint32_t>(image.size()), consumed))
        return schedule;
    const std::optional<TempoMap> map = engine::BuildTempoMap(smf);
    if (!map)
        return schedule;
    for (const ScheduledMessage& message : engine::BuildSendSchedule(smf, *map))
        schedule.messages.push_back({message.timeMs, message.bytes});
    return schedule;
}

std::string ReportJson(const UpdateReport& report) {
    std::ostringstream out;
    out << "{\"messages\": " << report.messagesReceived << ", \"faults\": [";
    for (std::size_t i = 0; i < report.faults.size(); ++i)
        out << (i ? ", " : "") << Quoted(fw::Describe(report.faults[i]));
    out << "], \"digest\": " << Quoted(report.digest) << ", \"lateness_ms\": ";
    if (report.lateness && report.lateness->matched != 0) {
        const Lateness& l = *report.lateness;
        out << "{\"p50\": " << l.p50 << ", \"p99\": " << l.p99 << ", \"max\": " << l.max << "}";
    } else {
        out << "null";
    }
    out << ", \"lost\": [";
    for (std::size_t i = 0; i < report.missing.size(); ++i)
        out << (i ? ", " : "") << report.missing[i];
    out << "]}\n";
    return out.str();
}

}  // namespace zav::emulator
