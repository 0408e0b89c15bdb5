#include "platform/midi/rtmidi/PortNames.h"

#include <cctype>
#include <cstdint>

namespace zav::platform {

namespace {

bool AllDigits(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0)
            return false;
    }
    return true;
}

// What follows the first ':', or the whole when there is none or nothing follows it.
std::string_view AfterClient(std::string_view listed) {
    const std::size_t colon = listed.find(':');
    if (colon == std::string_view::npos || colon + 1 == listed.size())
        return listed;
    return listed.substr(colon + 1);
}

// Without a trailing " <digits>" (WinMM) or " <digits>:<digits>" (ALSA's client and port).
std::string_view WithoutTrailingNumber(std::string_view listed, bool address) {
    const std::size_t blank = listed.rfind(' ');
    if (blank == std::string_view::npos)
        return listed;
    const std::string_view tail = listed.substr(blank + 1);
    if (address) {
        const std::size_t colon = tail.find(':');
        if (colon == std::string_view::npos || !AllDigits(tail.substr(0, colon)) ||
            !AllDigits(tail.substr(colon + 1))) {
            return listed;
        }
    } else if (!AllDigits(tail)) {
        return listed;
    }
    return listed.substr(0, blank);
}

void Erase(std::string& text, std::string_view word) {
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at))
        text.erase(at, word.size());
}

}  // namespace

std::string_view MidiSystemName(MidiSystem system) {
    switch (system) {
        case MidiSystem::Alsa:
            return "ALSA";
        case MidiSystem::Jack:
            return "JACK";
        case MidiSystem::CoreMidi:
            return "CoreMIDI";
        case MidiSystem::WinMM:
            return "WinMM";
    }
    return "?";
}

std::string DisplayPortName(MidiSystem system, std::string_view listed) {
    switch (system) {
        case MidiSystem::Alsa:
            return std::string(AfterClient(WithoutTrailingNumber(listed, true)));
        case MidiSystem::Jack: {
            std::string name(AfterClient(listed));
            Erase(name, " (capture)");
            Erase(name, " (playback)");
            return name;
        }
        case MidiSystem::WinMM:
            return std::string(WithoutTrailingNumber(listed, false));
        case MidiSystem::CoreMidi:
            break;
    }
    return std::string(listed);
}

MidiCaps CapsFromName(std::string_view utf8) {
    MidiCaps caps;
    std::size_t out = 0;
    std::size_t i = 0;
    const std::size_t limit = caps.name.size() - 1;
    while (i < utf8.size() && out < limit) {
        const auto lead = static_cast<std::uint8_t>(utf8[i]);
        std::size_t extra = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            code = 0xFFFD;
        }
        std::size_t used = 1;
        for (; used <= extra; ++used) {
            if (i + used >= utf8.size() ||
                (static_cast<std::uint8_t>(utf8[i + used]) & 0xC0) != 0x80) {
                break;
            }
            code = (code << 6) | (static_cast<std::uint8_t>(utf8[i + used]) & 0x3F);
        }
        if (used <= extra)
            code = 0xFFFD;  // cut short
        i += used;
        if constexpr (sizeof(wchar_t) == 2) {
            // UTF-16: a character beyond the basic plane takes two units, or none when only one
            // is left.
            if (code > 0xFFFF) {
                if (out + 2 > limit)
                    break;
                code -= 0x10000;
                caps.name[out++] = static_cast<wchar_t>(0xD800 + (code >> 10));
                caps.name[out++] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
                continue;
            }
        }
        caps.name[out++] = static_cast<wchar_t>(code);
    }
    return caps;
}

}  // namespace zav::platform
