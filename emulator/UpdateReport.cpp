#include "emulator/UpdateReport.h"

#include <algorithm>
#include <sstream>

namespace zav::emulator {

namespace {

// Nearest rank: the smallest value with at least `percent` of the values at or below it.
std::int64_t Percentile(const std::vector<std::int64_t>& sorted, std::size_t percent) {
    const std::size_t rank = (percent * sorted.size() + 99) / 100;
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

void JudgeAgainstSchedule(std::span<const ReceivedMessage> received, const Schedule& schedule,
                          UpdateReport& report) {
    report.missing.clear();
    std::vector<std::int64_t> late;
    std::vector<bool> used(received.size(), false);
    std::optional<std::uint32_t> origin = schedule.originMs;

    std::size_t next = 0;  // received messages before this one are matched or passed over
    for (std::size_t i = 0; i < schedule.messages.size(); ++i) {
        const auto& want = schedule.messages[i];
        std::size_t j = next;
        while (j < received.size() && received[j].bytes != want.bytes)
            ++j;
        if (j == received.size()) {
            report.missing.push_back(i);
            continue;
        }
        used[j] = true;
        next = j + 1;
        if (!origin)
            origin = static_cast<std::uint32_t>(received[j].arrivalMs - want.dueMs);
        // Differences on the wrapping 32-bit clock.
        const auto due = static_cast<std::uint32_t>(*origin + want.dueMs);
        late.push_back(static_cast<std::int32_t>(received[j].arrivalMs - due));
    }
    report.unscheduled = static_cast<std::size_t>(std::count(used.begin(), used.end(), false));

    Lateness l;
    l.matched = late.size();
    if (!late.empty()) {
        std::sort(late.begin(), late.end());
        l.min = late.front();
        l.p50 = Percentile(late, 50);
        l.p99 = Percentile(late, 99);
        l.max = late.back();
        l.early = static_cast<std::size_t>(
            std::count_if(late.begin(), late.end(), [](std::int64_t v) { return v < 0; }));
    }
    report.lateness = l;
}

std::string FormatReport(const UpdateReport& report) {
    std::ostringstream out;
    out << "received " << report.messagesReceived << " messages: erase "
        << (report.eraseReceived ? "yes" : "no") << ", data blocks " << report.blocksReceived
        << ", checksum " << (report.checksumReceived ? "yes" : "no") << '\n'
        << "data digest " << report.digest << '\n';
    for (const auto& f : report.faults) {
        out << "fault: " << fw::FaultName(f.kind) << ": message " << f.index;
        if (f.block)
            out << " (block " << *f.block << ")";
        out << " at " << f.position << " ms: " << f.detail << '\n';
    }
    if (report.lateness) {
        const auto& l = *report.lateness;
        out << "lateness over " << l.matched << " messages: p50 " << l.p50 << " ms, p99 " << l.p99
            << " ms, max " << l.max << " ms, min " << l.min << " ms, early " << l.early << '\n';
        out << "missing " << report.missing.size() << " scheduled messages";
        for (std::size_t i = 0; i < report.missing.size() && i < 10; ++i) {
            out << (i ? ", " : ": ") << report.missing[i];
        }
        if (report.missing.size() > 10)
            out << " ...";
        out << "\nunscheduled " << report.unscheduled << " messages\n";
    }
    out << (report.Clean() ? "clean" : "faulty") << '\n';
    return out.str();
}

}  // namespace zav::emulator
