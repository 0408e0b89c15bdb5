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

    MidiSystem System() const { return m_system; }

    MidiResult Send(std::span<const std::uint8_t> message) {
        if (message.empty())
            return kMidiInvalidParameter;
        if (message.size() > m_maxMessage)
            return kMidiNotSupported;
        // A message for a server that has gone would wait for ever for room in its ring buffer.
        if (m_server->Lost())
            return kMidiNoDevice;
        return Guarded(m_outErrors, kMidiError,
                       [&] { m_out->sendMessage(message.data(), message.size()); });
    }

private:
    bool Publish(MidiSystem candidate, const std::string& name) {
        m_server = std::make_unique<rtmidi::ServerWatch>(candidate, name);
        m_in = rtmidi::MakeInput(candidate, name, m_inErrors);
        m_out = rtmidi::MakeOutput(candidate, name, m_outErrors);
        MidiResult code = m_in && m_out ? kMidiOk : kMidiNoDevice;
        if (code == kMidiOk) {
            code = Guarded(m_inErrors, kMidiNoDevice, [&] {
                m_in->ignoreTypes(false, false, false);
                m_in->setCallback(&OnMessage, this);
                m_in->openVirtualPort(name);
            });
        }
        if (code == kMidiOk)
            code = Guarded(m_outErrors, kMidiNoDevice, [&] { m_out->openVirtualPort(name); });
        if (code != kMidiOk) {
            Unpublish();
            return false;
        }
        m_system = candidate;
        m_maxMessage = rtmidi::MaxMessageSize(candidate);
        return true;
    }

    void Unpublish() {
        rtmidi::Retire(m_in, *m_server, m_inErrors);
        rtmidi::Retire(m_out, *m_server, m_outErrors);
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
    MidiSystem m_system = MidiSystem::Jack;
    std::size_t m_maxMessage = 0;
    std::unique_ptr<rtmidi::ServerWatch> m_server;
    ErrorSink m_inErrors;
    ErrorSink m_outErrors;
    std::unique_ptr<RtMidiIn> m_in;
    std::unique_ptr<RtMidiOut> m_out;
};

RtMidiDevicePorts::RtMidiDevicePorts(const std::string& name, Receiver receiver,
                                     const std::vector<MidiSystem>& systems)
    : m_impl(std::make_unique<Impl>(name, std::move(receiver), systems)) {}

RtMidiDevicePorts::~RtMidiDevicePorts() = default;

MidiSystem RtMidiDevicePorts::System() const {
    return m_impl->System();
}

MidiResult RtMidiDevicePorts::Send(std::span<const std::uint8_t> message) {
    return m_impl->Send(message);
}

}  // namespace zav::platform
