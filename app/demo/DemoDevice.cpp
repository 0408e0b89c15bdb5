#include "app/demo/DemoDevice.h"

#include <cstdio>

#include "platform/clock/Clock.h"

namespace zav::demo {

DemoDevice::DemoDevice()
    : m_device(emulator::Model::ZAV5, platform::CurrentClock().NowMs()),
      m_plugged(m_bus, m_device) {
    m_plugged.Ports().OnCall(platform::MidiOp::InClose, [this] { OnInputClosing(); });
    // A reset cuts off what is still on its way, as it does on a real wire; the user's moment at
    // the last prompt lets the last message arrive first. On a virtual clock, where time stands
    // still while the program waits for the user, the moment has to be taken here.
    m_plugged.Ports().OnCall(platform::MidiOp::OutReset, [] { platform::SleepFor(kUserMomentMs); });
}

DemoDevice::~DemoDevice() {
    m_plugged.Ports().OnCall(platform::MidiOp::InClose, nullptr);
    m_plugged.Ports().OnCall(platform::MidiOp::OutReset, nullptr);
}

void DemoDevice::OnInputClosing() {
    if (m_switched) {
        return;
    }
    // Heard: one of its status messages reached the program.
    for (const auto& record : m_bus.Records()) {
        if (record.direction == platform::VirtualMidiRecord::Direction::FromDevice &&
            record.delivered) {
            if (m_device.SwitchToUpdateMode()) {
                m_switched = true;
                std::printf("The emulated ZAV5 has been switched to update mode.\n");
                std::fflush(stdout);
            }
            return;
        }
    }
}

}  // namespace zav::demo
