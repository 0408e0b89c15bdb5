#include <gtest/gtest.h>

#include <string>

#include "platform/midi/rtmidi/PortNames.h"

namespace zav::platform {
namespace {

struct NameCase {
    MidiSystem system;
    const char* listed;
    const char* shown;
};

TEST(DisplayPortName, GivesTheNameAUserKnowsThePortBy) {
    const NameCase cases[] = {
        // ALSA: "client:port c:p", the sequencer port's own name.
        {MidiSystem::Alsa, "ZAV5:ZAV5 MIDI 1 20:0", "ZAV5 MIDI 1"},
        {MidiSystem::Alsa, "Midi Through:Midi Through Port-0 14:0", "Midi Through Port-0"},
        {MidiSystem::Alsa, "ZAV10:ZAV10 128:1", "ZAV10"},
        // Not an address at the end: only the client goes.
        {MidiSystem::Alsa, "Synth:Port 2", "Port 2"},
        {MidiSystem::Alsa, "NoClient 20:0", "NoClient"},
        // JACK: the short name; a device's two ports in two clients come out alike.
        {MidiSystem::Jack, "ZAV5:ZAV5", "ZAV5"},
        {MidiSystem::Jack, "ZAV5-01:ZAV5", "ZAV5"},
        {MidiSystem::Jack, "a2j:ZAV10 [24] (capture): ZAV10 MIDI 1", "ZAV10 [24]: ZAV10 MIDI 1"},
        {MidiSystem::Jack, "a2j:ZAV10 [24] (playback): ZAV10 MIDI 1", "ZAV10 [24]: ZAV10 MIDI 1"},
        {MidiSystem::Jack, "system:midi_capture_1", "midi_capture_1"},
        {MidiSystem::Jack, "nocolon", "nocolon"},
        {MidiSystem::Jack, "trailing:", "trailing:"},
        // The numbering that the trimming rule of the port matching looks at stays.
        {MidiSystem::Jack, "dev:ZAV10-1", "ZAV10-1"},
        // WinMM: RtMidi's appended port number goes, so that input and output agree.
        {MidiSystem::WinMM, "ZAV5 0", "ZAV5"},
        {MidiSystem::WinMM, "ZAV5 1", "ZAV5"},
        {MidiSystem::WinMM, "2- ZAV10 12", "2- ZAV10"},
        {MidiSystem::WinMM, "ZAV5", "ZAV5"},
        {MidiSystem::CoreMidi, "ZAV5 Port 1", "ZAV5 Port 1"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(std::string(MidiSystemName(c.system)) + " " + c.listed);
        EXPECT_EQ(DisplayPortName(c.system, c.listed), c.shown);
    }
}

TEST(CapsFromName, DecodesUtf8AndCutsAtThirtyOneCharacters) {
    struct Case {
        std::string utf8;
        std::wstring name;
    };
    const Case cases[] = {
        {"ZAV5", L"ZAV5"},
        {"", L""},
        {"Gerät", L"Ger\u00e4t"},
        {"\xe2\x82\xac 5", L"\u20ac 5"},
        // Not UTF-8: a stray continuation byte, and a lead byte cut short by the end.
        {"A\x80Z", L"A\uFFFDZ"},
        {"A\xC3", L"A\uFFFD"},
        {std::string(40, 'x'), std::wstring(31, L'x')},
        {std::string(30, 'x') + "\xc3\xa4\xc3\xa4", std::wstring(30, L'x') + L"\u00e4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        const MidiCaps caps = CapsFromName(c.utf8);
        EXPECT_EQ(std::wstring(caps.name.data()), c.name);
        EXPECT_EQ(caps.name.back(), L'\0');
    }
}

}  // namespace
}  // namespace zav::platform
