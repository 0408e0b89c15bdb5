// The device link's reply filter as the MIDI service drives it: the input is a script of short
// messages, SysEx messages (handed over in pieces of at most one input buffer, as the service
// fills the 512-byte buffer that the ports queue), buffers handed back empty, and seconds passing
// with the silence timer's tick. After every step the link's heard state must be what the status
// messages and the silence rules give, worked out here on the side.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "midi/DeviceLink.h"
#include "midi/DeviceReply.h"
#include "midi/MidiPorts.h"
#include "platform/clock/Clock.h"
#include "platform/midi/MidiService.h"

namespace {

using namespace zav::platform;

constexpr std::int64_t kCalendarStart = 1'700'000'000;

// Time stands still but for the calendar, which the script moves.
class ScriptClock final : public Clock {
public:
    ~ScriptClock() override { KillAllTimers(); }
    std::uint64_t MonotonicMs() override { return 0; }
    std::uint32_t NowMs() override { return 0; }
    void SleepMs(std::uint32_t) override {}
    std::int64_t CalendarSeconds() override { return calendar; }
    std::unique_ptr<ClockAlarm> MakeAlarm() override { return nullptr; }

    std::int64_t calendar = kCalendarStart;
};

// One input port, device 0, whose wire is the script: it keeps the buffer that the ports queue
// and fills it as a service does.
class ScriptWire final : public MidiBackend {
public:
    std::uint32_t InputCount() override { return 1; }
    MidiResult InputCaps(std::uint32_t, MidiCaps&) override { return kMidiOk; }
    MidiResult OpenInput(MidiInHandle& handle, std::uint32_t, MidiInCallback cb,
                         std::uintptr_t inst) override {
        handle = MidiInHandle{1};
        callback = cb;
        instance = inst;
        return kMidiOk;
    }
    MidiResult PrepareInput(MidiInHandle, MidiBuffer&) override { return kMidiOk; }
    MidiResult UnprepareInput(MidiInHandle, MidiBuffer&) override { return kMidiOk; }
    MidiResult AddInputBuffer(MidiInHandle, MidiBuffer& buffer) override {
        queued = &buffer;
        return kMidiOk;
    }
    MidiResult StartInput(MidiInHandle) override { return kMidiOk; }
    MidiResult StopInput(MidiInHandle) override { return kMidiOk; }
    MidiResult ResetInput(MidiInHandle) override {
        queued = nullptr;
        return kMidiOk;
    }
    MidiResult CloseInput(MidiInHandle) override { return kMidiOk; }

    std::uint32_t OutputCount() override { return 0; }
    MidiResult OutputCaps(std::uint32_t, MidiCaps&) override { return kMidiBadDeviceId; }
    MidiResult OpenOutput(MidiOutHandle&, std::uint32_t, MidiOutCallback, std::uintptr_t) override {
        return kMidiBadDeviceId;
    }
    MidiResult PrepareOutput(MidiOutHandle, MidiBuffer&) override { return kMidiInvalidHandle; }
    MidiResult UnprepareOutput(MidiOutHandle, MidiBuffer&) override { return kMidiInvalidHandle; }
    MidiResult SendLong(MidiOutHandle, MidiBuffer&) override { return kMidiInvalidHandle; }
    MidiResult ResetOutput(MidiOutHandle) override { return kMidiInvalidHandle; }
    MidiResult CloseOutput(MidiOutHandle) override { return kMidiInvalidHandle; }

    void Short(std::uint32_t packed) { callback(MidiInHandle{1}, kMimData, instance, packed, 0); }
    // One buffer's worth; false when no buffer is queued and the bytes are lost.
    bool Long(const std::uint8_t* bytes, std::uint32_t length) {
        MidiBuffer* buffer = queued;
        if (buffer == nullptr)
            return false;
        queued = nullptr;
        ZAV_FUZZ_CHECK(length <= buffer->bufferLength);
        if (length != 0)
            std::memcpy(buffer->data, bytes, length);
        buffer->bytesRecorded = length;
        callback(MidiInHandle{1}, kMimLongData, instance, reinterpret_cast<std::uintptr_t>(buffer),
                 0);
        return true;
    }
    std::uint32_t BufferLength() const { return queued ? queued->bufferLength : 0; }

    MidiInCallback callback = nullptr;
    std::uintptr_t instance = 0;
    MidiBuffer* queued = nullptr;
};

struct Rig {
    ScriptClock clock;
    ScopedClock installedClock{clock};
    ScriptWire wire;
    ScopedMidiBackend installedWire{wire};
};

// The heard state as the status messages and the silence rules move it.
struct Expected {
    std::int64_t lastHeard = 0;
    char heardStatus = 0;

    void Message(const std::uint8_t* p, std::uint32_t n, std::int64_t now) {
        if (n < 9 || p[0] != 0xF0 || p[1] != 0x43 || p[2] != 0x7D || (p[3] & 0xF0) != 0x60 ||
            p[4] != 'D' || p[5] != 'T' || p[6] != 'A' || p[7] == 0) {
            return;
        }
        const char c = static_cast<char>(p[7]);
        if (heardStatus != 0 && heardStatus != c) {
            lastHeard = 0;
            heardStatus = 0;
        }
        if (c == '0' || c == '1') {
            if (lastHeard == 0)
                heardStatus = c;
            lastHeard = now;
        }
    }
    void Tick(std::int64_t now) {
        if (lastHeard != 0 && now - lastHeard >= 3) {
            lastHeard = 0;
            heardStatus = 0;
        }
    }
};

void CheckState(DeviceLink& link, const Expected& expected) {
    std::lock_guard lock(link.lock);
    ZAV_FUZZ_CHECK(link.lastHeard.load() == expected.lastHeard);
    ZAV_FUZZ_CHECK(link.heardStatus == expected.heardStatus);
    ZAV_FUZZ_CHECK(link.lastHeard.load() == 0 || link.heardStatus == '0' ||
                   link.heardStatus == '1');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig* const rig = new Rig;
    rig->clock.calendar = kCalendarStart;

    DeviceLink link;
    MidiPorts ports;
    ZAV_FUZZ_CHECK(ports.OpenInput(0, &link) == kMidiOk);
    ZAV_FUZZ_CHECK(ports.StartInput() == kMidiOk);
    Expected expected;

    std::size_t i = 0;
    auto next = [&]() -> std::uint8_t { return i < size ? data[i++] : 0; };
    while (i < size) {
        const std::uint8_t op = next();
        switch (op & 3) {
            case 0: {  // a short message; clock and active sensing never reach the handler
                const std::uint32_t status = next();
                const std::uint32_t d1 = next();
                const std::uint32_t d2 = next();
                rig->wire.Short(status | d1 << 8 | d2 << 16);
                break;
            }
            case 1:
            case 2: {  // one SysEx message of up to 1 + 255 + 63 * 256 bytes, in buffer pieces
                std::size_t length =
                    1 + next() + ((op & 2) ? static_cast<std::size_t>(op >> 2) << 8 : 0);
                if (length > size - i)
                    length = size - i;
                const std::uint8_t* message = data + i;
                i += length;
                std::size_t sent = 0;
                while (sent < length) {
                    const std::uint32_t room = rig->wire.BufferLength();
                    if (room == 0)
                        break;  // no buffer queued: the rest is lost
                    const auto piece =
                        static_cast<std::uint32_t>(length - sent < room ? length - sent : room);
                    // The filter on an exact copy of the piece: a read past it is caught here.
                    const std::vector<std::uint8_t> exact(message + sent, message + sent + piece);
                    const char c = ReadStatusCharacter(exact.data(), piece);
                    ZAV_FUZZ_CHECK(c == 0 || (piece >= 9 && c == static_cast<char>(exact[7])));
                    ZAV_FUZZ_CHECK(rig->wire.Long(message + sent, piece));
                    expected.Message(message + sent, piece, rig->clock.calendar);
                    sent += piece;
                }
                break;
            }
            case 3:
                if (op == 0xFF) {  // the service gives the buffer back empty
                    if (rig->wire.queued != nullptr)
                        rig->wire.Long(nullptr, 0);
                } else {  // seconds pass (or the clock is set back one), then the timer ticks
                    const int step = (op >> 2) & 7;
                    rig->clock.calendar += step == 7 ? -1 : step;
                    OnTimerTick(link);
                    expected.Tick(rig->clock.calendar);
                }
                break;
        }
        CheckState(link, expected);
    }
    ports.CloseInput();
    return 0;
}
