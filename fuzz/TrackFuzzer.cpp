// The track parser on a track chunk's body. Walking the body event by event never claims a byte
// past its end; a body that parses is written back in exactly GetDataSize() bytes, and the written
// body parses again into the same records (an F7 record comes back as the F0 event it is written
// as).
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "smf/CMidiTrack.h"

namespace {

bool SameRecord(const MidiEvent& a, const MidiEvent& b) {
    return a.kind == b.kind && a.status == b.status && a.tick == b.tick && a.length == b.length &&
           (a.length == 0 || std::memcmp(a.data.get(), b.data.get(), a.length) == 0);
}

// What a record reads as once written: SysEx is always written as an F0 event.
std::unique_ptr<MidiEvent> AsWritten(const MidiEvent& e) {
    auto copy = std::make_unique<MidiEvent>();
    copy->kind = e.kind;
    copy->status = e.status;
    copy->tick = e.tick;
    std::vector<std::uint8_t> bytes(e.data.get(), e.data.get() + e.length);
    if (e.kind == MidiEventKind::SysEx && (bytes.empty() || bytes[0] != 0xF0))
        bytes.insert(bytes.begin(), 0xF0);
    copy->SetBytes(bytes);
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        return 0;
    const auto size32 = static_cast<std::uint32_t>(size);
    const std::unique_ptr<std::uint8_t[]> body(new std::uint8_t[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(body.get(), data, size);

    CMidiTrack track;
    const bool parsed = track.ReadData(body.get(), size32);

    // The same body event by event: every event stays within the bytes left, and the walk fails
    // exactly where the parse did.
    std::uint32_t pos = 0;
    std::uint32_t lastTick = 0;
    std::uint8_t running = 0;
    std::size_t stored = 0;
    bool walked = true;
    while (pos < size32) {
        std::uint32_t taken = 0;
        auto event = ParseEvent(body.get() + pos, size32 - pos, lastTick, running, taken);
        if (!event) {
            walked = false;
            break;
        }
        ZAV_FUZZ_CHECK(taken > 0 && taken <= size32 - pos);
        pos += taken;
        if (event->kind == MidiEventKind::Meta && event->status == 0x2F)
            continue;
        ZAV_FUZZ_CHECK(stored < track.m_events.size());
        ZAV_FUZZ_CHECK(SameRecord(*event, *track.m_events[stored]));
        ++stored;
        if (event->kind == MidiEventKind::Channel)
            running = event->status;
        lastTick = event->tick;
    }
    ZAV_FUZZ_CHECK(walked == parsed);
    ZAV_FUZZ_CHECK(stored == track.m_events.size());
    if (!parsed)
        return 0;

    const std::uint32_t bodySize = track.GetDataSize();
    const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[bodySize]);
    std::uint32_t written = 0;
    ZAV_FUZZ_CHECK(track.WriteData(out.get(), written));
    ZAV_FUZZ_CHECK(written == bodySize);

    CMidiTrack again;
    ZAV_FUZZ_CHECK(again.ReadData(out.get(), written));
    ZAV_FUZZ_CHECK(again.m_events.size() == track.m_events.size());
    for (std::size_t i = 0; i < track.m_events.size(); ++i)
        ZAV_FUZZ_CHECK(SameRecord(*AsWritten(*track.m_events[i]), *again.m_events[i]));
    return 0;
}
