#include "smf/CMidiTrack.h"

#include <cstring>
#include <new>
#include <utility>

#include "smf/MidiTables.h"
#include "smf/VarLen.h"

namespace {

constexpr std::uint32_t kMaxEventDataLength = 65535;

// The writer's body is produced once by EncodeBody; measuring and writing run the same code with
// a different sink, so GetDataSize and WriteData cannot disagree.
class SizeSink {
public:
    void Byte(std::uint8_t) { ++m_size; }
    void VarLen(std::uint32_t value) { m_size += VarLenSize(value); }
    void Bytes(const std::uint8_t*, std::uint32_t length) { m_size += length; }
    std::uint32_t Size() const { return m_size; }

private:
    std::uint32_t m_size = 0;
};

class WriteSink {
public:
    explicit WriteSink(std::uint8_t* dst) : m_start(dst), m_pos(dst) {}
    void Byte(std::uint8_t b) { *m_pos++ = b; }
    void VarLen(std::uint32_t value) {
        const std::uint32_t width = VarLenSize(value);
        WriteVarLen(value, width, m_pos);
        m_pos += width;
    }
    void Bytes(const std::uint8_t* bytes, std::uint32_t length) {
        if (length == 0)
            return;
        std::memcpy(m_pos, bytes, length);
        m_pos += length;
    }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(m_pos - m_start); }

private:
    std::uint8_t* m_start;
    std::uint8_t* m_pos;
};

template <class Sink>
void EncodeBody(const std::vector<std::unique_ptr<MidiEvent>>& events, Sink& out) {
    std::uint32_t previousTick = 0;
    for (const auto& event : events) {
        const MidiEvent& e = *event;
        // A record without a kind has no form in a file; it is left out whole, delta included.
        if (e.kind != MidiEventKind::Channel && e.kind != MidiEventKind::SysEx &&
            e.kind != MidiEventKind::Meta) {
            continue;
        }
        out.VarLen(e.tick - previousTick);
        previousTick = e.tick;
        switch (e.kind) {
            case MidiEventKind::Channel:
                if (zav::smf::ChannelDataBytes(e.status) != 0)
                    out.Byte(e.status);
                out.Bytes(e.data.get(), e.length);
                break;
            case MidiEventKind::SysEx:
                out.Byte(0xF0);
                if (e.length > 0 && e.data[0] == 0xF0) {
                    out.VarLen(e.length - 1);
                    out.Bytes(e.data.get() + 1, e.length - 1);
                } else {
                    out.VarLen(e.length);
                    out.Bytes(e.data.get(), e.length);
                }
                break;
            case MidiEventKind::Meta:
                out.Byte(0xFF);
                out.Byte(e.status);
                out.VarLen(e.length);
                out.Bytes(e.data.get(), e.length);
                break;
        }
    }
    out.Byte(0x00);
    out.Byte(0xFF);
    out.Byte(MetaTypeTable[zav::smf::kMetaEndOfTrack]);
    out.Byte(0x00);
}

// Copies length bytes after an optional leading byte into a new data array of the event.
void FillData(MidiEvent& event, const std::uint8_t* bytes, std::uint32_t length, bool leadF0) {
    event.length = length + (leadF0 ? 1 : 0);
    if (event.length == 0)
        return;
    event.data = std::make_unique_for_overwrite<std::uint8_t[]>(event.length);
    std::uint8_t* out = event.data.get();
    if (leadF0)
        *out++ = 0xF0;
    if (length != 0)
        std::memcpy(out, bytes, length);
}

}  // namespace

std::unique_ptr<MidiEvent> ParseEvent(const std::uint8_t* data, std::uint32_t left,
                                      std::uint32_t lastTick, std::uint8_t runningStatus,
                                      std::uint32_t& taken) {
    std::uint32_t delta = 0;
    std::uint32_t pos = 0;
    if (!ReadVarLen(data, left, delta, pos) || pos >= left)
        return nullptr;

    auto event = std::make_unique<MidiEvent>();
    event->tick = lastTick + delta;
    const std::uint8_t lead = data[pos];

    if (lead == 0xF0 || lead == 0xF7 || lead == 0xFF) {
        ++pos;
        if (lead == 0xFF) {
            if (pos >= left)
                return nullptr;
            event->kind = MidiEventKind::Meta;
            event->status = data[pos++];
        } else {
            event->kind = MidiEventKind::SysEx;
        }
        std::uint32_t length = 0;
        std::uint32_t lengthBytes = 0;
        if (!ReadVarLen(data + pos, left - pos, length, lengthBytes))
            return nullptr;
        pos += lengthBytes;
        if (length > kMaxEventDataLength || length > left - pos)
            return nullptr;
        FillData(*event, data + pos, length, lead == 0xF0);
        pos += length;
    } else {
        std::uint8_t status = lead;
        std::uint32_t dataBytes = zav::smf::ChannelDataBytes(lead);
        if (dataBytes != 0) {
            ++pos;
        } else {
            status = runningStatus;
            dataBytes = zav::smf::ChannelDataBytes(runningStatus);
            if (dataBytes == 0)
                return nullptr;
        }
        if (dataBytes > left - pos)
            return nullptr;
        event->kind = MidiEventKind::Channel;
        event->status = status;
        FillData(*event, data + pos, dataBytes, false);
        pos += dataBytes;
    }
    taken = pos;
    return event;
}

CMidiTrack::~CMidiTrack() {
    CMidiTrack::Clear();
    m_chunkId = 0;
}

void CMidiTrack::Clear() {
    m_events.clear();
}

void CMidiTrack::AddEvent(std::unique_ptr<MidiEvent> event) {
    if (event)
        m_events.push_back(std::move(event));
}

bool CMidiTrack::ReadData(const std::uint8_t* data, std::uint32_t size) {
    const std::uint8_t endOfTrack = MetaTypeTable[zav::smf::kMetaEndOfTrack];
    try {
        std::uint32_t pos = 0;
        std::uint32_t lastTick = 0;
        std::uint8_t runningStatus = 0;
        while (pos < size) {
            std::uint32_t taken = 0;
            auto event = ParseEvent(data + pos, size - pos, lastTick, runningStatus, taken);
            if (!event)
                return false;
            pos += taken;
            if (event->kind == MidiEventKind::Meta && event->status == endOfTrack)
                continue;
            if (event->kind == MidiEventKind::Channel)
                runningStatus = event->status;
            lastTick = event->tick;
            AddEvent(std::move(event));
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::uint32_t CMidiTrack::GetDataSize() const {
    SizeSink sink;
    EncodeBody(m_events, sink);
    return sink.Size();
}

bool CMidiTrack::WriteData(std::uint8_t* dst, std::uint32_t& written) const {
    WriteSink sink(dst);
    EncodeBody(m_events, sink);
    written = sink.Size();
    return true;
}
