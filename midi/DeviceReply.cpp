#include "midi/DeviceReply.h"

char ReadStatusCharacter(const std::uint8_t* bytes, std::uint32_t length) {
    if (bytes == nullptr || length < 9)
        return 0;
    if (bytes[0] != 0xF0 || bytes[1] != 0x43 || bytes[2] != 0x7D || (bytes[3] >> 4) != 0x6) {
        return 0;
    }
    if (bytes[4] != 'D' || bytes[5] != 'T' || bytes[6] != 'A')
        return 0;
    return static_cast<char>(bytes[7]);
}

HeardState ApplyStatusCharacter(HeardState state, char c, std::int64_t now) {
    if (state.heardStatus != 0 && state.heardStatus != c)
        state = HeardState{};
    if (c == '1' || c == '0') {
        const bool wasSilent = state.lastHeard == 0;
        state.lastHeard = now;
        if (wasSilent)
            state.heardStatus = c;
    }
    return state;
}

HeardState ApplySilenceCheck(HeardState state, std::int64_t now) {
    if (state.lastHeard != 0 && now - state.lastHeard >= kSilenceSeconds)
        state = HeardState{};
    return state;
}
