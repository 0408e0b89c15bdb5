#include "tests/update/SmfFile.h"

namespace zav::test {

namespace {

void AppendBE(Bytes& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

Bytes SmfFile(std::uint16_t division, const std::vector<Bytes>& trackBodies) {
    Bytes file = Ascii("MThd");
    AppendBE(file, 6, 4);
    AppendBE(file, trackBodies.size() > 1 ? 1 : 0, 2);
    AppendBE(file, static_cast<std::uint32_t>(trackBodies.size()), 2);
    AppendBE(file, division, 2);
    const Bytes endOfTrack = FromHex("00 FF 2F 00");
    for (const Bytes& body : trackBodies) {
        const Bytes track = Ascii("MTrk");
        file.insert(file.end(), track.begin(), track.end());
        AppendBE(file, static_cast<std::uint32_t>(body.size() + endOfTrack.size()), 4);
        file.insert(file.end(), body.begin(), body.end());
        file.insert(file.end(), endOfTrack.begin(), endOfTrack.end());
    }
    return file;
}

Bytes VarLen(std::uint32_t value) {
    Bytes out{static_cast<std::uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0)
        out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

}  // namespace zav::test
