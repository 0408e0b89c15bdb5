#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/midi/rtmidi/RtMidiSupport.h"

namespace zav::platform::rtmidi {

namespace {
void Drop(const char*) {}
}  // namespace

void QuietSystemMessages() {
    // libjack writes a few lines to standard error at every failed attempt to reach a server,
    // and the service asks again at every listing while none runs; failures reach the program
    // as result codes instead.
    jack_set_error_function(&Drop);
    jack_set_info_function(&Drop);
}

class ServerWatch::Impl {
public:
    explicit Impl(const std::string& client) {
        m_client = jack_client_open(client.c_str(), JackNoStartServer, nullptr);
        if (m_client == nullptr)
            return;
        jack_on_shutdown(m_client, &OnShutdown, this);
        jack_set_process_callback(m_client, &OnCycle, this);
        // Active, so that the server tells it when it goes.
        if (jack_activate(m_client) != 0) {
            jack_client_close(m_client);
            m_client = nullptr;
        }
    }
    ~Impl() {
        // A client whose server has gone is left as it is: JACK's calls on it crash.
        if (m_client != nullptr && !m_lost)
            jack_client_close(m_client);
    }

    bool Watching() const { return m_client != nullptr; }
    bool Lost() const { return m_lost; }

    void WaitUntilPassed(unsigned limitMs) const {
        // A message written now is taken in this cycle or the next, and read by the other
        // clients in that one (synchronous server) or the one after: three cycle starts on, all
        // have had it.
        const std::uint64_t until = m_cycles + 3;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (m_cycles < until && !m_lost && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    static void OnShutdown(void* user) { static_cast<Impl*>(user)->m_lost = true; }
    // On the server's process thread: only counts.
    static int OnCycle(jack_nframes_t, void* user) {
        static_cast<Impl*>(user)->m_cycles.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

    jack_client_t* m_client = nullptr;
    std::atomic<bool> m_lost{false};
    std::atomic<std::uint64_t> m_cycles{0};
};

ServerWatch::ServerWatch(MidiSystem system, const std::string& client) {
    if (system == MidiSystem::Jack)
        m_impl = std::make_unique<Impl>(client);
}

ServerWatch::~ServerWatch() = default;

bool ServerWatch::Watching() const {
    return m_impl && m_impl->Watching();
}

bool ServerWatch::Lost() const {
    return m_impl && m_impl->Lost();
}

void ServerWatch::WaitUntilPassed(unsigned limitMs) const {
    if (Watching())
        m_impl->WaitUntilPassed(limitMs);
}

}  // namespace zav::platform::rtmidi
