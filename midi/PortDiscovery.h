#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Finding the device by the names of its MIDI ports: no identity request, no vendor number, only
// an input port whose name holds a model word and an output port of exactly the same name.

// Port names in device-number order: entry d is the trimmed name of device d, empty when its
// capability query failed, so that positions and device numbers always agree.
using MidiNameList = std::vector<std::wstring>;

// The device numbers of the pair found; the input's and the output's need not be equal.
struct DevicePorts {
    std::uint32_t input = 0;
    std::uint32_t output = 0;
};

inline constexpr wchar_t kModelWordZav5[] = L"ZAV5";
inline constexpr wchar_t kModelWordZav10[] = L"ZAV10";

// Appends one trimmed name per MIDI input (output) device of the installed service.
void ListMidiInputNames(MidiNameList& names);
void ListMidiOutputNames(MidiNameList& names);

// A name holding "-1" anywhere loses its last two characters, whatever they are; any other name
// stays as it is.
std::wstring TrimPortName(std::wstring name);

// Holds "ZAV5" or "ZAV10" anywhere; case counts.
bool HasModelWord(const std::wstring& name);

// The lowest-numbered input with a model word that has an equally named output, and the
// lowest-numbered such output; nothing when there is none. The outputs are listed afresh for each
// candidate input. Opens nothing.
std::optional<DevicePorts> FindDevicePorts();
