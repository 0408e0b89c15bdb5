// zav-e2e-expected: what a device should receive of the embedded image, worked out from the
// image itself: {"messages": N, "digest": "..."}, the digest being FNV-1a 64 of the data blocks'
// data in file order.

#include <cstdio>

#include "emulator/Digest.h"
#include "resources/FirmwareImage.h"
#include "tools/emulator/EmulatorReport.h"
#include "update/FirmwareMessages.h"

int main() {
    const zav::emulator::Schedule schedule =
        zav::emulator::ScheduleOfImage(zav::fw::EmbeddedFirmwareImage());
    zav::emulator::Fnv1a64 digest;
    for (const zav::emulator::ExpectedMessage& message : schedule.messages) {
        const zav::fw::MessageInfo info = zav::fw::ClassifyMessage(message.bytes);
        if (info.kind == zav::fw::MessageKind::DataBlock)
            digest.Add(info.data);
    }
    std::printf("{\"messages\": %zu, \"digest\": \"%s\"}\n", schedule.messages.size(),
                digest.Hex().c_str());
    return schedule.messages.empty() ? 1 : 0;
}
