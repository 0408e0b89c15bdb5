#include "update/SendSchedule.h"

#include "smf/CSMF.h"
#include "smf/MidiTables.h"

std::uint32_t TickToMilliseconds(std::uint32_t tick, const TempoMap& map, std::uint16_t division) {
    std::uint32_t total = 0;
    std::uint32_t end = tick;
    for (auto point = map.rbegin(); point != map.rend(); ++point) {
        if (point->tick >= tick)
            continue;
        if (point->bpm != 0 && division != 0) {
            const double msPerTick = (60000.0 / point->bpm) / division;
            const double segment = (end - point->tick) * msPerTick;
            // At most 2^32 ticks of 20 s each: the rounded segment fits 64 bits, and the sum keeps
            // its low 32.
            total += static_cast<std::uint32_t>(static_cast<std::uint64_t>(segment + 0.5));
        }
        end = point->tick;
    }
    return total;
}

namespace zav::engine {

std::optional<TempoMap> BuildTempoMap(const CSMF& smf) {
    TempoMap map;
    if (smf.m_tracks.empty())
        return map;
    const std::uint8_t setTempo = MetaTypeTable[smf::kMetaSetTempo];
    for (const auto& event : smf.m_tracks.front()->m_events) {
        if (event->kind != MidiEventKind::Meta || event->status != setTempo)
            continue;
        if (event->length < 3)
            return std::nullopt;
        const std::uint32_t tempo = (std::uint32_t{event->data[0]} << 16) |
                                    (std::uint32_t{event->data[1]} << 8) | event->data[2];
        if (tempo == 0)
            return std::nullopt;
        map.push_back({event->tick, 60'000'000u / tempo});
    }
    return map;
}

SendSchedule BuildSendSchedule(const CSMF& smf, const TempoMap& map) {
    SendSchedule schedule;
    const std::uint16_t division = smf.m_header.m_division;
    for (const auto& track : smf.m_tracks) {
        for (const auto& event : track->m_events) {
            if (event->kind != MidiEventKind::SysEx || event->length == 0)
                continue;
            const auto bytes = event->Bytes();
            schedule.push_back({TickToMilliseconds(event->tick, map, division),
                                {bytes.begin(), bytes.end()},
                                event->tick});
        }
    }
    return schedule;
}

}  // namespace zav::engine
