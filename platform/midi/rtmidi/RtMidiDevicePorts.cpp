#include "platform/midi/rtmidi/RtMidiDevicePorts.h"

#include <stdexcept>
#include <utility>

#include "common/CGenericException.h"
#include "platform/midi/rtmidi/RtMidiSupport.h"

namespace zav::platform {

using rtmidi::ErrorSink;
using rtmidi::Guarded;

class RtMidiDevicePorts::Impl {
public:
    Impl(const std::string& name, Receiver receiver, const std::vector<MidiSystem>& systems)
        : m_receiver(std::move(receiver)) {
        rtmidi::QuietSystemMessages();
        std::vector<MidiSystem> order = systems;
        if (order.empty())
            order = {MidiSystem::Alsa, MidiSystem::Jack};
        for (MidiSystem candidate : order) {
            if (Publish(candidate, name))
                return;
        }
        throw std::runtime_error("no MIDI system could publish the ports of " + name);
    }

    ~Impl() { Unpublish(); }

    MidiSystem system = MidiSystem::Jack;
    std::size_t maxMessage = 0;
    ErrorSink outErrors;
    std::unique_ptr<RtMidiOut> out;

private:
    bool Publish(MidiSystem candidate, const std::string& name) {
        m_in = rtmidi::MakeInput(candidate, name, m_inErrors);
        out = rtmidi::MakeOutput(candidate, name, outErrors);
        MidiResult code = m_in && out ? kMidiOk : kMidiNoDevice;
        if (code == kMidiOk) {
            code = Guarded(m_inErrors, kMidiNoDevice, [&] {
                m_in->ignoreTypes(false, false, false);
                m_in->setCallback(&OnMessage, this);
                m_in->openVirtualPort(name);
            });
        }
        if (code == kMidiOk)
            code = Guarded(outErrors, kMidiNoDevice, [&] { out->openVirtualPort(name); });
        if (code != kMidiOk) {
            Unpublish();
            return false;
        }
        system = candidate;
        maxMessage = rtmidi::MaxMessageSize(candidate);
        return true;
    }

    void Unpublish() {
        Guarded(m_inErrors, kMidiOk, [&] { m_in.reset(); });
        Guarded(outErrors, kMidiOk, [&] { out.reset(); });
    }

    static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
        auto& self = *static_cast<Impl*>(user);
        try {
            if (message != nullptr && !message->empty())
                self.m_receiver(*message);
        } catch (...) {
            ReportException();
        }
    }

    Receiver m_receiver;
    ErrorSink m_inErrors;
    std::unique_ptr<RtMidiIn> m_in;
};

RtMidiDevicePorts::RtMidiDevicePorts(const std::string& name, Receiver receiver,
                                     const std::vector<MidiSystem>& systems)
    : m_impl(std::make_unique<Impl>(name, std::move(receiver), systems)) {}

RtMidiDevicePorts::~RtMidiDevicePorts() = default;

MidiSystem RtMidiDevicePorts::System() const {
    return m_impl->system;
}

MidiResult RtMidiDevicePorts::Send(std::span<const std::uint8_t> message) {
    if (message.empty())
        return kMidiInvalidParameter;
    if (message.size() > m_impl->maxMessage)
        return kMidiNotSupported;
    return Guarded(m_impl->outErrors, kMidiError,
                   [&] { m_impl->out->sendMessage(message.data(), message.size()); });
}

}  // namespace zav::platform
