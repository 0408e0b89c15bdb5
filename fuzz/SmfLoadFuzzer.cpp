// CSMF::Load on whole files. Either the load succeeds and the document matches the bytes (the
// declared tracks back to back after the header, consumed covering exactly them, the header's
// values among those that load), or it fails and leaves the document empty. A loaded document is
// then written out into a buffer of exactly its own size.
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "smf/BigEndian.h"
#include "smf/CSMF.h"

using zav::smf::ReadBE16;
using zav::smf::ReadBE32;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        return 0;
    const auto size32 = static_cast<std::uint32_t>(size);
    // An exact copy, so that a read past the end is one past the allocation.
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size == 0 ? 1 : size]);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = data[i];

    CSMF smf;
    std::uint32_t consumed = 0;
    if (!smf.Load(bytes.get(), size32, consumed)) {
        ZAV_FUZZ_CHECK(smf.m_tracks.empty());
        ZAV_FUZZ_CHECK(smf.m_header.m_chunkId == 0);
        ZAV_FUZZ_CHECK(smf.m_header.m_format == 0 && smf.m_header.m_trackCount == 0 &&
                       smf.m_header.m_division == 0);
        return 0;
    }

    ZAV_FUZZ_CHECK(size >= 14);
    ZAV_FUZZ_CHECK(ReadBE32(bytes.get()) == 0x4D546864 && ReadBE32(bytes.get() + 4) == 6);
    ZAV_FUZZ_CHECK(smf.m_header.m_chunkId == 0x4D546864);
    ZAV_FUZZ_CHECK(smf.m_header.m_format == ReadBE16(bytes.get() + 8));
    ZAV_FUZZ_CHECK(smf.m_header.m_trackCount == ReadBE16(bytes.get() + 10));
    ZAV_FUZZ_CHECK(smf.m_header.m_division == ReadBE16(bytes.get() + 12));
    ZAV_FUZZ_CHECK(smf.m_header.m_format < 2);
    ZAV_FUZZ_CHECK(smf.m_header.m_division != 0 && (smf.m_header.m_division >> 8) != 0x80);
    ZAV_FUZZ_CHECK(smf.m_tracks.size() == smf.m_header.m_trackCount);

    // The declared tracks, walked on the raw bytes.
    std::uint64_t pos = 14;
    for (const auto& track : smf.m_tracks) {
        ZAV_FUZZ_CHECK(pos + 8 <= size);
        ZAV_FUZZ_CHECK(ReadBE32(bytes.get() + pos) == 0x4D54726B);
        ZAV_FUZZ_CHECK(track->m_chunkId == 0x4D54726B);
        pos += 8 + std::uint64_t{ReadBE32(bytes.get() + pos + 4)};
        ZAV_FUZZ_CHECK(pos <= size);
    }
    ZAV_FUZZ_CHECK(consumed == pos);

    const std::uint32_t fileSize = smf.GetFileSize();
    std::vector<std::uint8_t> out(fileSize);
    std::uint32_t counter = 0;
    ZAV_FUZZ_CHECK(smf.Write(out.data(), counter));
    ZAV_FUZZ_CHECK(counter == fileSize);
    ZAV_FUZZ_CHECK(ReadBE32(out.data()) == 0x4D546864 &&
                   ReadBE16(out.data() + 10) == smf.m_header.m_trackCount);
    return 0;
}
