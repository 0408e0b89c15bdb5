#include "platform/midi/MidiService.h"

#include <atomic>

namespace zav::platform {

namespace {

// A machine without MIDI devices.
class NoMidiBackend final : public MidiBackend {
public:
    std::uint32_t InputCount() override { return 0; }
    MidiResult InputCaps(std::uint32_t, MidiCaps&) override { return kMidiBadDeviceId; }
    MidiResult OpenInput(MidiInHandle&, std::uint32_t, MidiInCallback, std::uintptr_t) override {
        return kMidiBadDeviceId;
    }
    MidiResult PrepareInput(MidiInHandle, MidiBuffer&) override { return kMidiInvalidHandle; }
    MidiResult UnprepareInput(MidiInHandle, MidiBuffer&) override { return kMidiInvalidHandle; }
    MidiResult AddInputBuffer(MidiInHandle, MidiBuffer&) override { return kMidiInvalidHandle; }
    MidiResult StartInput(MidiInHandle) override { return kMidiInvalidHandle; }
    MidiResult StopInput(MidiInHandle) override { return kMidiInvalidHandle; }
    MidiResult ResetInput(MidiInHandle) override { return kMidiInvalidHandle; }
    MidiResult CloseInput(MidiInHandle) override { return kMidiInvalidHandle; }

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
};

NoMidiBackend g_noBackend;
std::atomic<MidiBackend*> g_backend{nullptr};

MidiBackend& Backend() {
    return CurrentMidiBackend();
}

}  // namespace

MidiBackend& CurrentMidiBackend() {
    MidiBackend* backend = g_backend.load(std::memory_order_acquire);
    return backend != nullptr ? *backend : g_noBackend;
}

MidiBackend* InstallMidiBackend(MidiBackend* backend) {
    MidiBackend* previous = g_backend.exchange(backend, std::memory_order_acq_rel);
    return previous != nullptr ? previous : &g_noBackend;
}

std::uint32_t MidiInCount() {
    return Backend().InputCount();
}

MidiResult MidiInGetCaps(std::uint32_t device, MidiCaps& caps) {
    return Backend().InputCaps(device, caps);
}

std::uint32_t MidiOutCount() {
    return Backend().OutputCount();
}

MidiResult MidiOutGetCaps(std::uint32_t device, MidiCaps& caps) {
    return Backend().OutputCaps(device, caps);
}

MidiResult MidiInOpen(MidiInHandle* handle, std::uint32_t device, MidiInCallback callback,
                      std::uintptr_t instance) {
    if (handle == nullptr)
        return kMidiInvalidParameter;
    *handle = kNoMidiIn;
    if (callback == nullptr)
        return kMidiInvalidParameter;
    const MidiResult result = Backend().OpenInput(*handle, device, callback, instance);
    if (result != kMidiOk)
        *handle = kNoMidiIn;
    return result;
}

MidiResult MidiInPrepare(MidiInHandle handle, MidiBuffer* buffer) {
    if (handle == kNoMidiIn)
        return kMidiInvalidHandle;
    if (buffer == nullptr)
        return kMidiInvalidParameter;
    return Backend().PrepareInput(handle, *buffer);
}

MidiResult MidiInUnprepare(MidiInHandle handle, MidiBuffer* buffer) {
    if (handle == kNoMidiIn)
        return kMidiInvalidHandle;
    if (buffer == nullptr)
        return kMidiInvalidParameter;
    return Backend().UnprepareInput(handle, *buffer);
}

MidiResult MidiInAddBuffer(MidiInHandle handle, MidiBuffer* buffer) {
    if (handle == kNoMidiIn)
        return kMidiInvalidHandle;
    if (buffer == nullptr || buffer->data == nullptr || buffer->bufferLength == 0) {
        return kMidiInvalidParameter;
    }
    return Backend().AddInputBuffer(handle, *buffer);
}

MidiResult MidiInStart(MidiInHandle handle) {
    return handle == kNoMidiIn ? kMidiInvalidHandle : Backend().StartInput(handle);
}

MidiResult MidiInStop(MidiInHandle handle) {
    return handle == kNoMidiIn ? kMidiInvalidHandle : Backend().StopInput(handle);
}

MidiResult MidiInReset(MidiInHandle handle) {
    return handle == kNoMidiIn ? kMidiInvalidHandle : Backend().ResetInput(handle);
}

MidiResult MidiInClose(MidiInHandle handle) {
    return handle == kNoMidiIn ? kMidiInvalidHandle : Backend().CloseInput(handle);
}

MidiResult MidiOutOpen(MidiOutHandle* handle, std::uint32_t device, MidiOutCallback callback,
                       std::uintptr_t instance) {
    if (handle == nullptr)
        return kMidiInvalidParameter;
    *handle = kNoMidiOut;
    if (callback == nullptr)
        return kMidiInvalidParameter;
    const MidiResult result = Backend().OpenOutput(*handle, device, callback, instance);
    if (result != kMidiOk)
        *handle = kNoMidiOut;
    return result;
}

MidiResult MidiOutPrepare(MidiOutHandle handle, MidiBuffer* buffer) {
    if (handle == kNoMidiOut)
        return kMidiInvalidHandle;
    if (buffer == nullptr)
        return kMidiInvalidParameter;
    return Backend().PrepareOutput(handle, *buffer);
}

MidiResult MidiOutUnprepare(MidiOutHandle handle, MidiBuffer* buffer) {
    if (handle == kNoMidiOut)
        return kMidiInvalidHandle;
    if (buffer == nullptr)
        return kMidiInvalidParameter;
    return Backend().UnprepareOutput(handle, *buffer);
}

MidiResult MidiOutLongMsg(MidiOutHandle handle, MidiBuffer* buffer) {
    if (handle == kNoMidiOut)
        return kMidiInvalidHandle;
    if (buffer == nullptr || buffer->data == nullptr || buffer->bufferLength == 0) {
        return kMidiInvalidParameter;
    }
    return Backend().SendLong(handle, *buffer);
}

MidiResult MidiOutReset(MidiOutHandle handle) {
    return handle == kNoMidiOut ? kMidiInvalidHandle : Backend().ResetOutput(handle);
}

MidiResult MidiOutClose(MidiOutHandle handle) {
    return handle == kNoMidiOut ? kMidiInvalidHandle : Backend().CloseOutput(handle);
}

}  // namespace zav::platform
