#include "emulator/ZavDevice.h"

#include <stdexcept>

#include "update/FirmwareMessages.h"

namespace zav::emulator {

std::string_view ModelName(Model model) {
    return model == Model::ZAV10 ? "ZAV10" : "ZAV5";
}

ZavDevice::ZavDevice(Model model, std::uint32_t nowMs) : m_model(model) {
    StartNormal(nowMs);
}

Mode ZavDevice::GetMode() const {
    std::lock_guard lock(m_mutex);
    return m_mode;
}

void ZavDevice::SetStatusPeriod(std::uint32_t periodMs) {
    if (periodMs == 0)
        throw std::invalid_argument("status period must be at least 1 ms");
    std::lock_guard lock(m_mutex);
    m_nextStatusMs = m_nextStatusMs - m_periodMs + periodMs;
    m_periodMs = periodMs;
}

void ZavDevice::SetStatusCharacter(std::uint8_t status) {
    if (status > 0x7F)
        throw std::invalid_argument("status character must be a 7-bit byte");
    std::lock_guard lock(m_mutex);
    m_statusCharacter = status;
}

std::vector<Emission> ZavDevice::Poll(std::uint32_t nowMs) {
    std::lock_guard lock(m_mutex);
    std::vector<Emission> due;
    if (m_mode != Mode::Normal)
        return due;
    // Signed difference on the wrapping clock: due when the status time is not in the future.
    while (static_cast<std::int32_t>(nowMs - m_nextStatusMs) >= 0) {
        due.push_back({m_nextStatusMs, fw::MakeStatusMessage(m_statusCharacter)});
        m_nextStatusMs += m_periodMs;
    }
    return due;
}

void ZavDevice::Receive(std::span<const std::uint8_t> message, std::uint32_t nowMs) {
    std::lock_guard lock(m_mutex);
    if (m_mode != Mode::Update) {
        ++m_ignored;
        return;
    }
    const fw::MessageInfo info = m_checker.Feed(message, nowMs);
    if (info.kind == fw::MessageKind::DataBlock)
        m_digest.Add(info.data);
    m_received.push_back({nowMs, {message.begin(), message.end()}});
}

bool ZavDevice::SwitchToUpdateMode() {
    std::lock_guard lock(m_mutex);
    if (m_mode != Mode::Normal)
        return false;
    m_mode = Mode::Update;
    m_checker = fw::FirmwareChecker();
    m_digest = Fnv1a64();
    m_received.clear();
    return true;
}

void ZavDevice::PowerCycle(std::uint32_t nowMs) {
    std::lock_guard lock(m_mutex);
    if (m_mode != Mode::Unplugged)
        StartNormal(nowMs);
}

void ZavDevice::Unplug() {
    std::lock_guard lock(m_mutex);
    m_mode = Mode::Unplugged;
}

void ZavDevice::Replug(std::uint32_t nowMs) {
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Unplugged)
        StartNormal(nowMs);
}

std::vector<ReceivedMessage> ZavDevice::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::size_t ZavDevice::IgnoredCount() const {
    std::lock_guard lock(m_mutex);
    return m_ignored;
}

UpdateReport ZavDevice::Report() const {
    std::lock_guard lock(m_mutex);
    return ReportLocked();
}

UpdateReport ZavDevice::Report(const Schedule& schedule) const {
    std::lock_guard lock(m_mutex);
    UpdateReport report = ReportLocked();
    JudgeAgainstSchedule(m_received, schedule, report);
    return report;
}

void ZavDevice::StartNormal(std::uint32_t nowMs) {
    m_mode = Mode::Normal;
    m_nextStatusMs = nowMs + m_periodMs;
}

UpdateReport ZavDevice::ReportLocked() const {
    // The report says how things stand now: a copy of the checker is finished, the device's own
    // goes on taking messages.
    fw::FirmwareChecker checker = m_checker;
    checker.Finish();
    UpdateReport report;
    report.messagesReceived = checker.MessageCount();
    report.blocksReceived = checker.BlockCount();
    report.eraseReceived = checker.EraseSeen();
    report.checksumReceived = checker.ChecksumSeen();
    report.faults = checker.Faults();
    report.digest = m_digest.Hex();
    return report;
}

}  // namespace zav::emulator
