#include "midi/PortDiscovery.h"

#include <algorithm>

#include "platform/midi/MidiService.h"

namespace {

// The name field up to its NUL; a backend that filled all of it gets no more than the field.
std::wstring NameOf(const zav::platform::MidiCaps& caps) {
    const auto end = std::find(caps.name.begin(), caps.name.end(), L'\0');
    return std::wstring(caps.name.begin(), end);
}

}  // namespace

void ListMidiInputNames(MidiNameList& names) {
    const std::uint32_t count = zav::platform::MidiInCount();
    for (std::uint32_t device = 0; device < count; ++device) {
        zav::platform::MidiCaps caps{};
        zav::platform::MidiInGetCaps(device, caps);  // a failed query leaves the name empty
        names.push_back(TrimPortName(NameOf(caps)));
    }
}

void ListMidiOutputNames(MidiNameList& names) {
    const std::uint32_t count = zav::platform::MidiOutCount();
    for (std::uint32_t device = 0; device < count; ++device) {
        zav::platform::MidiCaps caps{};
        zav::platform::MidiOutGetCaps(device, caps);
        names.push_back(TrimPortName(NameOf(caps)));
    }
}

std::wstring TrimPortName(std::wstring name) {
    if (name.find(L"-1") != std::wstring::npos)
        name.erase(name.size() - 2);
    return name;
}

bool HasModelWord(const std::wstring& name) {
    return name.find(kModelWordZav5) != std::wstring::npos ||
           name.find(kModelWordZav10) != std::wstring::npos;
}

std::optional<DevicePorts> FindDevicePorts() {
    MidiNameList inputs;
    ListMidiInputNames(inputs);
    for (std::uint32_t i = 0; i < inputs.size(); ++i) {
        if (!HasModelWord(inputs[i]))
            continue;
        MidiNameList outputs;
        ListMidiOutputNames(outputs);
        for (std::uint32_t j = 0; j < outputs.size(); ++j) {
            if (outputs[j] == inputs[i])
                return DevicePorts{i, j};
        }
    }
    return std::nullopt;
}
