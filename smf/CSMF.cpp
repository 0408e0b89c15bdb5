#include "smf/CSMF.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "smf/BigEndian.h"
#include "smf/MidiTables.h"

namespace {

constexpr std::uint32_t kHeaderChunkSize = 14;

// Counts the "MTrk" tags at every offset from 11 on, event data included, and checks that the
// 32-bit value after each is below size. A tag without room for its value is not counted.
bool ScanTrackTags(const std::uint8_t* data, std::uint32_t size, std::uint32_t& count) {
    count = 0;
    // memchr for the first letter keeps the scan of a large image well below a millisecond.
    for (std::uint32_t i = 11; i + 8 <= size;) {
        const void* hit = std::memchr(data + i, 'M', size - 7 - i);
        if (hit == nullptr)
            break;
        i = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(hit) - data);
        if (std::memcmp(data + i, "MTrk", 4) == 0) {
            ++count;
            if (zav::smf::ReadBE32(data + i + 4) >= size)
                return false;
        }
        ++i;
    }
    return true;
}

// The checks made on the raw bytes before anything is read into the document.
bool AcceptableFile(const std::uint8_t* data, std::uint32_t size) {
    if (data == nullptr || size < kHeaderChunkSize)
        return false;
    const std::uint32_t id = zav::smf::ReadBE32(data);
    const std::uint32_t bodyLength = zav::smf::ReadBE32(data + 4);
    const std::uint16_t format = zav::smf::ReadBE16(data + 8);
    const std::uint16_t trackCount = zav::smf::ReadBE16(data + 10);
    const std::uint16_t division = zav::smf::ReadBE16(data + 12);
    if (id != CMidiHeader::kChunkId || bodyLength != 6 || format > 2)
        return false;

    std::uint32_t tags = 0;
    if (!ScanTrackTags(data, size, tags))
        return false;
    if (trackCount == 0 || trackCount > tags)
        return false;
    if (division == 0 || (division >> 8) == 0x80)
        return false;
    return true;
}

bool LeadsItsTick(const MidiEvent& e) {
    return e.kind == MidiEventKind::Meta &&
           e.status == MetaTypeTable[zav::smf::kMetaSequencerSpecific] && e.length >= 3 &&
           e.data[0] == 0x43 && e.data[1] == 0x7B && e.data[2] == 0x02;
}

}  // namespace

bool EventPrecedes(const MidiEvent& a, const MidiEvent& b) {
    if (a.tick != b.tick)
        return a.tick < b.tick;
    return LeadsItsTick(a) && !LeadsItsTick(b);
}

CSMF::~CSMF() {
    DeleteTracks();
    m_header.Clear();
    m_header.m_chunkId = 0;
}

bool CSMF::Load(const std::uint8_t* data, std::uint32_t size, std::uint32_t& consumed) {
    try {
        if (AcceptableFile(data, size)) {
            std::uint32_t n = 0;
            if (ReadChunk(m_header, data, size, n) && m_header.m_format < 2) {
                consumed += n;
                std::uint32_t taken = 0;
                if (LoadTracks(m_header.m_trackCount, data + n, size - n, taken)) {
                    consumed += taken;
                    return true;
                }
            }
        }
    } catch (const std::bad_alloc&) {
    }
    Clear();
    return false;
}

bool CSMF::LoadTracks(std::uint16_t count, const std::uint8_t* data, std::uint32_t size,
                      std::uint32_t& taken) {
    std::uint32_t total = 0;
    for (unsigned k = 0; k < count; ++k) {
        auto track = std::make_unique<CMidiTrack>();
        std::uint32_t length = 0;
        if (!track->ReadChunkHeader(data, size, length))
            return false;
        if (!track->ReadData(data + 8, length))
            return false;
        m_tracks.push_back(std::move(track));
        data += 8 + length;
        size -= 8 + length;
        total += 8 + length;
    }
    taken = total;
    return true;
}

void CSMF::Clear() {
    DeleteTracks();
    m_header.Clear();
    m_header.m_chunkId = 0;
}

void CSMF::DeleteTracks() {
    for (auto& track : m_tracks) {
        track->Clear();
        track->m_chunkId = 0;
        track.reset();
    }
    m_tracks.clear();
}

void CSMF::SortEvents() {
    for (auto& track : m_tracks) {
        if (track->m_events.empty())
            continue;
        std::stable_sort(track->m_events.begin(), track->m_events.end(),
                         [](const std::unique_ptr<MidiEvent>& a,
                            const std::unique_ptr<MidiEvent>& b) { return EventPrecedes(*a, *b); });
    }
}

std::uint32_t CSMF::GetFileSize() const {
    std::uint32_t size = m_header.GetDataSize() + 8;
    for (const auto& track : m_tracks)
        size += track->GetDataSize() + 8;
    return size;
}

bool CSMF::Write(std::uint8_t* dst, std::uint32_t& counter) const {
    std::uint32_t written = 0;
    m_header.WriteChunkHeader(dst);
    m_header.WriteData(dst + 8, written);
    // The tracks follow the header chunk itself, whatever counter held on entry.
    const std::uint32_t headerSize = written + 8;
    counter += headerSize;
    counter += WriteTracks(dst + headerSize);
    return true;
}

std::uint32_t CSMF::WriteTracks(std::uint8_t* dst) const {
    std::uint32_t total = 0;
    for (const auto& track : m_tracks) {
        std::uint32_t written = 0;
        track->WriteChunkHeader(dst + total);
        track->WriteData(dst + total + 8, written);
        total += 8 + written;
    }
    return total;
}
