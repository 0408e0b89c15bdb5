#include "midi/MidiPorts.h"

#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#include "common/CGenericException.h"
#include "midi/DeviceLink.h"

using namespace zav::platform;

namespace {

std::atomic<MidiPorts*> g_midiPorts{nullptr};

// Buffers that the platform would not give back: freeing them could let it write into freed
// memory, so they are kept, reachable, for the rest of the process.
void KeepForPlatform(std::unique_ptr<MidiPortsState::Header> header) {
    static std::mutex mutex;
    static std::vector<std::unique_ptr<MidiPortsState::Header>> kept;
    std::lock_guard lock(mutex);
    kept.push_back(std::move(header));
}

std::unique_ptr<MidiPortsState::Header> MakeHeader(std::uint32_t size) {
    auto block = std::make_unique<MidiPortsState::Header>();
    block->data = std::make_unique<std::uint8_t[]>(size);
    block->header.data = block->data.get();
    block->header.bufferLength = size;
    return block;
}

}  // namespace

MidiPorts::MidiPorts() : state(std::make_unique<MidiPortsState>()) {}

MidiPorts::~MidiPorts() {
    CloseInput();
    CloseOutput();
    // Left only when the platform failed to reset: it may still hold them.
    for (auto& [key, header] : state->pendingHeaders)
        KeepForPlatform(std::move(header));
}

MidiResult MidiPorts::OpenInput(std::uint32_t device, void* context) {
    return OpenInput(device, context, &OnDeviceReply);
}

MidiResult MidiPorts::OpenInput(std::uint32_t device, void* context, MidiInputHandler handler) {
    CloseInput();
    handlerContext = context;
    inputHandler = handler;
    MidiInHandle handle{};
    const MidiResult code =
        MidiInOpen(&handle, device, &OnMidiIn, reinterpret_cast<std::uintptr_t>(this));
    if (code != kMidiOk) {
        state->inputHandle = kNoMidiIn;
        return code;
    }
    state->inputHandle = handle;
    state->inputHeader = MakeHeader(kInputBufferSize);
    return kMidiOk;
}

MidiResult MidiPorts::StartInput() {
    MidiBuffer* header = state->inputHeader ? &state->inputHeader->header : nullptr;
    if (MidiResult code = MidiInPrepare(state->inputHandle, header))
        return code;
    if (MidiResult code = MidiInAddBuffer(state->inputHandle, header))
        return code;
    {
        std::lock_guard lock(state->lock);
        inputStarted = true;
    }
    const MidiResult code = MidiInStart(state->inputHandle);
    if (code != kMidiOk) {
        std::lock_guard lock(state->lock);
        inputStarted = false;
    }
    return code;
}

MidiResult MidiPorts::CloseInput() {
    const MidiInHandle handle = state->inputHandle;
    if (handle != kNoMidiIn) {
        if (inputStarted) {
            std::lock_guard lock(state->lock);
            inputStarted = false;
        }
        // From here on every input callback returns at once: the buffer that the reset hands back
        // is neither passed on nor queued again. The reset runs also when input never started (a
        // start that failed after the buffer was queued): without it the platform would keep the
        // buffer and refuse to close the port.
        if (MidiInReset(handle) == kMidiOk)
            MidiInStop(handle);
    }
    if (state->inputHeader) {
        if (handle != kNoMidiIn &&
            MidiInUnprepare(handle, &state->inputHeader->header) != kMidiOk) {
            // The platform still holds the buffer (a reset that failed leaves it queued).
            KeepForPlatform(std::move(state->inputHeader));
        }
        state->inputHeader.reset();
    }
    MidiResult result = kMidiOk;
    if (handle != kNoMidiIn) {
        result = MidiInClose(handle);
        state->inputHandle = kNoMidiIn;
    }
    inputHandler = nullptr;
    handlerContext = nullptr;
    return result;
}

void MidiPorts::OnMidiIn(MidiInHandle, std::uint32_t message, std::uintptr_t instance,
                         std::uintptr_t param1, std::uintptr_t) {
    auto* self = reinterpret_cast<MidiPorts*>(instance);
    try {
        std::lock_guard lock(self->state->lock);
        if (!self->inputStarted)
            return;
        if (message == kMimData) {
            const auto status = static_cast<std::uint8_t>(param1 & 0xFF);
            if (status == 0xF8 || status == 0xFE)
                return;  // timing clock, active sensing
            if (self->inputHandler != nullptr) {
                const std::uint8_t bytes[3] = {status, static_cast<std::uint8_t>(param1 >> 8),
                                               static_cast<std::uint8_t>(param1 >> 16)};
                self->inputHandler(self->handlerContext, bytes, 3);
            }
        } else if (message == kMimLongData && self->inputHandler != nullptr) {
            const auto* header = reinterpret_cast<const MidiBuffer*>(param1);
            if (header->bytesRecorded == 0)
                return;  // handed back empty: not queued again
            self->inputHandler(self->handlerContext, header->data, header->bytesRecorded);
            MidiBuffer* own = &self->state->inputHeader->header;
            MidiInPrepare(self->state->inputHandle, own);
            MidiInAddBuffer(self->state->inputHandle, own);
        }
    } catch (...) {
        ReportException();
    }
}

void MidiPorts::OpenOutput(std::uint32_t device) {
    CloseOutput();
    MidiOutHandle handle{};
    const MidiResult code =
        MidiOutOpen(&handle, device, &OnMidiOutDone, reinterpret_cast<std::uintptr_t>(this));
    {
        std::lock_guard lock(state->lock);
        state->outputHandle = code == kMidiOk ? handle : kNoMidiOut;
    }
    if (code != kMidiOk) {
        throw mstd::CGenericException(mstd::ErrNotConnected, static_cast<std::int32_t>(code));
    }
    if (handle == kNoMidiOut) {
        throw mstd::CGenericException(mstd::ErrNotConnected,
                                      static_cast<std::int32_t>(kMidiInvalidHandle));
    }
    outputOpen = true;
}

MidiResult MidiPorts::ResetOutput() {
    const MidiOutHandle handle = OutputHandle();
    if (!outputOpen || handle == kNoMidiOut)
        return kMidiOk;
    outputOpen = false;
    // Without the lock: the done notices that the reset causes need it.
    if (MidiResult code = MidiOutReset(handle))
        return code;
    std::map<const MidiBuffer*, std::unique_ptr<MidiPortsState::Header>> released;
    {
        std::lock_guard lock(state->lock);
        released.swap(state->pendingHeaders);
    }
    for (auto& [key, header] : released) {
        MidiOutUnprepare(handle, &header->header);
        header.reset();
    }
    return kMidiOk;
}

void MidiPorts::CloseOutput() {
    ResetOutput();
    const MidiOutHandle handle = OutputHandle();
    if (handle != kNoMidiOut) {
        MidiOutClose(handle);
        std::lock_guard lock(state->lock);
        state->outputHandle = kNoMidiOut;
    }
}

MidiResult MidiPorts::SendSysEx(const std::uint8_t* bytes, std::uint32_t length) {
    const MidiOutHandle handle = OutputHandle();
    if (handle == kNoMidiOut)
        return kMidiOk;
    std::unique_ptr<MidiPortsState::Header> block = MakeHeader(length);
    if (length != 0)
        std::memcpy(block->data.get(), bytes, length);
    MidiBuffer* header = &block->header;
    MidiOutPrepare(handle, header);
    {
        // Pending before the platform has it: its done notice may come before LongMsg returns.
        std::lock_guard lock(state->lock);
        state->pendingHeaders.emplace(header, std::move(block));
    }
    return MidiOutLongMsg(handle, header);
}

void MidiPorts::OnMidiOutDone(MidiOutHandle, std::uint32_t message, std::uintptr_t instance,
                              std::uintptr_t param1, std::uintptr_t) {
    if (message != kMomDone)
        return;
    auto* self = reinterpret_cast<MidiPorts*>(instance);
    try {
        std::unique_ptr<MidiPortsState::Header> released;
        MidiOutHandle handle{};
        {
            std::lock_guard lock(self->state->lock);
            handle = self->state->outputHandle;
            if (handle == kNoMidiOut)
                return;
            auto it = self->state->pendingHeaders.find(reinterpret_cast<const MidiBuffer*>(param1));
            if (it == self->state->pendingHeaders.end())
                return;  // released already
            released = std::move(it->second);
            self->state->pendingHeaders.erase(it);
        }
        // Only the one that took it out of the set unprepares and frees it.
        MidiOutUnprepare(handle, &released->header);
    } catch (...) {
        ReportException();
    }
}

MidiOutHandle MidiPorts::OutputHandle() const {
    std::lock_guard lock(state->lock);
    return state->outputHandle;
}

bool MidiPorts::InputStarted() const {
    std::lock_guard lock(state->lock);
    return inputStarted;
}

std::size_t MidiPorts::PendingCount() const {
    std::lock_guard lock(state->lock);
    return state->pendingHeaders.size();
}

MidiPorts* CurrentMidiPorts() {
    return g_midiPorts.load();
}

std::uint32_t RecreateMidiPorts() {
    TakeMidiPorts().reset();
    g_midiPorts.store(std::make_unique<MidiPorts>().release());
    return 0;
}

MidiPorts& RequireMidiPorts() {
    if (CurrentMidiPorts() == nullptr)
        RecreateMidiPorts();
    return *CurrentMidiPorts();
}

std::unique_ptr<MidiPorts> TakeMidiPorts() {
    return std::unique_ptr<MidiPorts>(g_midiPorts.exchange(nullptr));
}
