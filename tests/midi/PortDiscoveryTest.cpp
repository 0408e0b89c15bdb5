#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "midi/PortDiscovery.h"
#include "tests/midi/MidiBench.h"

namespace {

using zav::platform::VirtualPorts;

TEST(TrimPortName, RemovesTheLastTwoCharactersOfANameHoldingMinusOne) {
    struct Case {
        std::wstring name;
        std::wstring trimmed;
    };
    const Case cases[] = {
        {L"ZAV10-1", L"ZAV10"},
        {L"2-1 ZAV5 Port", L"2-1 ZAV5 Po"},  // the last two, not the "-1"
        {L"a-1b", L"a-"},
        {L"-1", L""},
        {L"ZAV5", L"ZAV5"},
        {L"ZAV5-2", L"ZAV5-2"},
        {L"1-", L"1-"},
        {L"-", L"-"},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrimPortName(c.name), c.trimmed) << c.name.size();
}

struct PairCase {
    const char* reason;
    std::vector<std::wstring> inputs;
    std::vector<std::wstring> outputs;
    std::optional<DevicePorts> expected;
};

void PrintTo(const PairCase& c, std::ostream* os) {
    *os << c.reason;
}

class FindDevicePortsTest : public testing::TestWithParam<PairCase> {};

TEST_P(FindDevicePortsTest, PicksThePairByName) {
    const PairCase& c = GetParam();
    zav::test::MidiBench bench;
    for (const auto& name : c.inputs)
        bench.bus.AddDevice(name, VirtualPorts::InputOnly);
    for (const auto& name : c.outputs)
        bench.bus.AddDevice(name, VirtualPorts::OutputOnly);

    const std::optional<DevicePorts> found = FindDevicePorts();
    ASSERT_EQ(found.has_value(), c.expected.has_value());
    if (found) {
        EXPECT_EQ(found->input, c.expected->input);
        EXPECT_EQ(found->output, c.expected->output);
    }
    EXPECT_TRUE(bench.bus.Records().empty());
}

const std::wstring kLong = L"USB MIDI Interface ZAV5 Port A and more";  // cut to 31 by the service

INSTANTIATE_TEST_SUITE_P(
    Names, FindDevicePortsTest,
    testing::Values(
        PairCase{"input and output numbers differ",
                 {L"Other", L"ZAV5"},
                 {L"ZAV5", L"ZAV5"},
                 DevicePorts{1, 0}},
        PairCase{"both trimmed", {L"ZAV10-1"}, {L"ZAV10-1"}, DevicePorts{0, 0}},
        PairCase{"input trimmed to the output", {L"ZAV10-1"}, {L"ZAV10"}, DevicePorts{0, 0}},
        PairCase{"trim cuts the end, not the -1",
                 {L"2-1 ZAV5 Port"},
                 {L"2-1 ZAV5 Port"},
                 DevicePorts{0, 0}},
        PairCase{
            "a trimmed name is trimmed again", {L"2-1 ZAV5 Port"}, {L"2-1 ZAV5 Po"}, std::nullopt},
        PairCase{"trailing blank", {L"ZAV10"}, {L"ZAV10 "}, std::nullopt},
        PairCase{"lower case", {L"zav5"}, {L"zav5"}, std::nullopt},
        PairCase{"a candidate without partner is passed over",
                 {L"ZAV5", L"ZAV10"},
                 {L"Other", L"ZAV10"},
                 DevicePorts{1, 1}},
        PairCase{
            "the lowest input wins", {L"ZAV10", L"ZAV5"}, {L"ZAV5", L"ZAV10"}, DevicePorts{0, 1}},
        PairCase{"an equal name without a model word", {L"Other"}, {L"Other"}, std::nullopt},
        PairCase{"model word inside a longer name",
                 {L"My ZAV10 MIDI"},
                 {L"My ZAV10 MIDI"},
                 DevicePorts{0, 0}},
        PairCase{"names cut to 31 characters compare equal",
                 {kLong},
                 {kLong + L" too"},
                 DevicePorts{0, 0}},
        PairCase{"no MIDI devices at all", {}, {}, std::nullopt}),
    [](const testing::TestParamInfo<PairCase>& param) {
        std::string name = param.param.reason;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

// A service whose first input answers no capability query.
class FailingCapsBackend final : public zav::platform::MidiBackend {
public:
    std::uint32_t InputCount() override { return 2; }
    zav::platform::MidiResult InputCaps(std::uint32_t device,
                                        zav::platform::MidiCaps& caps) override {
        if (device == 0)
            return zav::platform::kMidiNoDriver;
        return Name(L"ZAV5", caps);
    }
    std::uint32_t OutputCount() override { return 1; }
    zav::platform::MidiResult OutputCaps(std::uint32_t, zav::platform::MidiCaps& caps) override {
        // Fills the whole field: no NUL.
        caps.name.fill(L'x');
        return zav::platform::kMidiOk;
    }

    using MidiIn = zav::platform::MidiInHandle;
    using MidiOut = zav::platform::MidiOutHandle;
    using Buffer = zav::platform::MidiBuffer;
    static constexpr zav::platform::MidiResult kNo = zav::platform::kMidiNotSupported;
    zav::platform::MidiResult OpenInput(MidiIn&, std::uint32_t, zav::platform::MidiInCallback,
                                        std::uintptr_t) override {
        return kNo;
    }
    zav::platform::MidiResult PrepareInput(MidiIn, Buffer&) override { return kNo; }
    zav::platform::MidiResult UnprepareInput(MidiIn, Buffer&) override { return kNo; }
    zav::platform::MidiResult AddInputBuffer(MidiIn, Buffer&) override { return kNo; }
    zav::platform::MidiResult StartInput(MidiIn) override { return kNo; }
    zav::platform::MidiResult StopInput(MidiIn) override { return kNo; }
    zav::platform::MidiResult ResetInput(MidiIn) override { return kNo; }
    zav::platform::MidiResult CloseInput(MidiIn) override { return kNo; }
    zav::platform::MidiResult OpenOutput(MidiOut&, std::uint32_t, zav::platform::MidiOutCallback,
                                         std::uintptr_t) override {
        return kNo;
    }
    zav::platform::MidiResult PrepareOutput(MidiOut, Buffer&) override { return kNo; }
    zav::platform::MidiResult UnprepareOutput(MidiOut, Buffer&) override { return kNo; }
    zav::platform::MidiResult SendLong(MidiOut, Buffer&) override { return kNo; }
    zav::platform::MidiResult ResetOutput(MidiOut) override { return kNo; }
    zav::platform::MidiResult CloseOutput(MidiOut) override { return kNo; }

private:
    static zav::platform::MidiResult Name(const std::wstring& name, zav::platform::MidiCaps& caps) {
        std::copy(name.begin(), name.end(), caps.name.begin());
        return zav::platform::kMidiOk;
    }
};

TEST(ListMidiNames, AFailedQueryKeepsItsPlaceWithAnEmptyName) {
    FailingCapsBackend backend;
    zav::platform::ScopedMidiBackend installed(backend);
    MidiNameList inputs;
    ListMidiInputNames(inputs);
    EXPECT_EQ(inputs, (MidiNameList{L"", L"ZAV5"}));
    MidiNameList outputs{L"kept"};
    ListMidiOutputNames(outputs);  // appends
    EXPECT_EQ(outputs, (MidiNameList{L"kept", std::wstring(32, L'x')}));
}

}  // namespace
