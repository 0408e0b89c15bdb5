#include "update/PlayFirmwareImage.h"

#include <optional>

#include "common/CGenericException.h"
#include "midi/MidiPorts.h"
#include "platform/ThreadTiming.h"
#include "platform/clock/Clock.h"
#include "smf/CSMF.h"
#include "update/SendSchedule.h"
#include "update/UpdateProgress.h"

namespace {

// The image's schedule, or nothing when the image is refused. The document is released before
// sending starts: only the schedule's copies are needed from then on.
std::optional<SendSchedule> Schedule(const std::uint8_t* image, std::uint32_t size) {
    CSMF smf;
    std::uint32_t consumed = 0;
    if (!smf.Load(image, size, consumed))
        return std::nullopt;
    const auto map = zav::engine::BuildTempoMap(smf);
    if (!map)
        return std::nullopt;
    return zav::engine::BuildSendSchedule(smf, *map);
}

bool Send(const SendSchedule& schedule, MidiPorts& ports, IUpdateProgress* progress) {
    // The data blocks are due some 55 ms apart and every sleep's overshoot is lateness: the
    // default slack of the thread's timers would add to each.
    const zav::platform::ScopedTimerSlack slack;
    zav::engine::ProgressTracker tracker(schedule.size());
    // Every due time counts from here, so a late message does not delay the ones after it.
    const std::uint32_t start = zav::platform::TimeNowMs();
    for (std::size_t i = 0; i < schedule.size(); ++i) {
        const ScheduledMessage& message = schedule[i];
        std::uint32_t elapsed = zav::platform::TimeNowMs() - start;
        while (elapsed < message.timeMs) {
            zav::platform::SleepFor(message.timeMs - elapsed);
            elapsed = zav::platform::TimeNowMs() - start;
        }
        if (progress != nullptr && !progress->KeepSending())
            return false;
        const auto length = static_cast<std::uint32_t>(message.bytes.size());
        if (ports.SendSysEx(message.bytes.data(), length) != 0)
            return false;
        if (const auto percentage = tracker.Sent(i); percentage && progress != nullptr)
            progress->OnUpdateProgress(*percentage);
    }
    return true;
}

}  // namespace

bool PlayFirmwareImage(const std::uint8_t* image, std::uint32_t size, IUpdateProgress* progress) {
    try {
        MidiPorts& ports = RequireMidiPorts();
        const auto schedule = Schedule(image, size);
        if (!schedule)
            return false;
        return Send(*schedule, ports, progress);
    } catch (...) {
        // Out of memory while scheduling, or a progress receiver that threw.
        ReportException();
        return false;
    }
}
