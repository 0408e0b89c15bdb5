#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// The connection to the device: finds its port pair and opens it through MidiPorts, and tells
// from the device's unasked status messages whether it is there in its normal mode. It sends the
// device nothing. A 50 ms periodic timer ends the heard state after 3 seconds of silence.
//
// Threads. Connect and Disconnect run on the dialog's worker or user-interface thread, one at a
// time. OnDeviceReply runs on the MIDI input callback thread while the ports' lock is held and
// takes the link's lock inside it; OnTimerTick runs on the timer's thread and takes only the
// link's lock. Nothing that holds the link's lock takes the ports' lock.
struct DeviceLink {
    // Calendar seconds of the last status message with "0" or "1"; 0 = not heard since the last
    // Connect, Disconnect or silence. Written under the lock; read by anyone as one whole value.
    std::atomic<std::int64_t> lastHeard{0};
    // The status character that began the current heard period; 0 = none. Under the lock.
    char heardStatus = 0;
    // The silence timer; 0 = none (the link then works without the silence timeout).
    std::uint32_t timerId = 0;
    std::mutex lock;
};

static_assert(std::atomic<std::int64_t>::is_always_lock_free);

inline constexpr std::uint32_t kSilenceTimerPeriodMs = 50;

// The process-wide reference; empty until CreateDeviceLink.
DeviceLink* CurrentDeviceLink();
// When the reference is empty: makes fresh MIDI ports (RecreateMidiPorts), a new link, begins the
// 1 ms timer period, starts the silence timer and stores the link. Otherwise nothing.
void CreateDeviceLink();
// The current link, made by CreateDeviceLink when the reference is empty.
DeviceLink& RequireDeviceLink();
// Empties the reference and hands over the link, for DestroyDeviceLink.
std::unique_ptr<DeviceLink> TakeDeviceLink();
// Disconnects, kills the timer and ends the 1 ms period (both only when the timer had started),
// then frees the link. No tick runs or begins afterwards. Never throws.
void DestroyDeviceLink(std::unique_ptr<DeviceLink> link) noexcept;

// Disconnects, finds the port pair and opens and starts it: true when connected, false when no
// pair was found (nothing is then open). Throws mstd::CGenericException with code 1000 and the
// platform's code as detail (5 when it gave no input handle) when a port cannot be opened,
// prepared or started; ports opened before the throw stay open until the next Connect or
// Disconnect.
bool Connect(DeviceLink& link);
// Closes input and output, then clears lastHeard (heardStatus stays). Never throws.
void Disconnect(DeviceLink& link) noexcept;

// The input handler of MidiPorts, context being the link: a status message with "0" or "1" makes
// the device heard and renews lastHeard; see ApplyStatusCharacter for the rest.
void OnDeviceReply(void* context, const std::uint8_t* bytes, std::uint32_t length);
// The silence check, every 50 ms.
void OnTimerTick(DeviceLink& link);
