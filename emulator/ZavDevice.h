#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "emulator/Digest.h"
#include "emulator/UpdateReport.h"
#include "update/FirmwareChecker.h"

namespace zav::emulator {

enum class Model { ZAV5, ZAV10 };

// "ZAV5" or "ZAV10": what the device's port names contain.
std::string_view ModelName(Model model);

enum class Mode {
    Normal,     // speaks: a status message every period
    Update,     // silent; takes in a firmware
    Unplugged,  // neither speaks nor hears
};

// A message that the device sends, with the time it was due on the device's clock.
struct Emission {
    std::uint32_t atMs = 0;
    std::vector<std::uint8_t> bytes;
};

// The ZAV device as its host sees it, free of any transport: the owner moves it along a
// millisecond clock (an unsigned 32-bit count that may wrap), delivers it the messages that the
// host sends, and carries out what a user would do to it. It starts plugged in, in normal mode.
//
// All operations may be called from different threads; each takes the device's lock.
class ZavDevice {
public:
    static constexpr std::uint32_t kDefaultStatusPeriodMs = 500;

    explicit ZavDevice(Model model, std::uint32_t nowMs = 0);

    Model GetModel() const { return m_model; }
    Mode GetMode() const;

    // Takes effect from the next status message. A period of 0 is refused (std::invalid_argument).
    void SetStatusPeriod(std::uint32_t periodMs);
    // The status character of the status messages, "1" unless set.
    void SetStatusCharacter(std::uint8_t status);

    // The messages that fell due up to nowMs, oldest first: in normal mode a status message at
    // every period since the mode began; nothing in the other modes.
    std::vector<Emission> Poll(std::uint32_t nowMs);

    // One message from the host. In update mode it is checked and recorded with its arrival time;
    // in the other modes it is ignored.
    void Receive(std::span<const std::uint8_t> message, std::uint32_t nowMs);

    // What a user does. Switching to update mode begins a fresh update record; it works from
    // normal mode only and reports whether the mode changed. A power cycle or a replug brings the
    // device back in normal mode; the record of the last update stays for its report.
    bool SwitchToUpdateMode();
    void PowerCycle(std::uint32_t nowMs);
    void Unplug();
    void Replug(std::uint32_t nowMs);

    // The messages received in update mode since the last switch to it.
    std::vector<ReceivedMessage> Received() const;
    std::size_t IgnoredCount() const;

    // The report of the last update, as it stands; with a schedule, also how the arrivals kept to
    // it.
    UpdateReport Report() const;
    UpdateReport Report(const Schedule& schedule) const;

private:
    void StartNormal(std::uint32_t nowMs);
    UpdateReport ReportLocked() const;

    const Model m_model;
    mutable std::mutex m_mutex;
    Mode m_mode = Mode::Normal;
    std::uint32_t m_periodMs = kDefaultStatusPeriodMs;
    std::uint32_t m_nextStatusMs = 0;
    std::uint8_t m_statusCharacter = '1';

    fw::FirmwareChecker m_checker;
    Fnv1a64 m_digest;
    std::vector<ReceivedMessage> m_received;
    std::size_t m_ignored = 0;
};

}  // namespace zav::emulator
