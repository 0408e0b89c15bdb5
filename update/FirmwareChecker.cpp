#include "update/FirmwareChecker.h"

#include <cstdio>

namespace zav::fw {

namespace {

std::string Hex2(unsigned value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", value & 0xFFu);
    return buf;
}

}  // namespace

std::string_view FaultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Framing:
            return "framing";
        case FaultKind::LengthField:
            return "length field";
        case FaultKind::CheckByte:
            return "check byte";
        case FaultKind::BlockNumber:
            return "block number";
        case FaultKind::Order:
            return "order";
        case FaultKind::AfterChecksum:
            return "after checksum";
        case FaultKind::MissingChecksum:
            break;
    }
    return "missing checksum";
}

std::string Describe(const Fault& fault) {
    std::string out = "message " + std::to_string(fault.index);
    if (fault.block)
        out += " (block " + std::to_string(*fault.block) + ")";
    out += " at " + std::to_string(fault.position) + ": " + fault.detail;
    return out;
}

MessageInfo FirmwareChecker::Feed(std::span<const std::uint8_t> message, std::uint64_t position) {
    const MessageInfo info = ClassifyMessage(message);
    m_lastPosition = position;

    if (info.kind == MessageKind::Status || info.kind == MessageKind::Other) {
        Add(FaultKind::Framing, std::nullopt, position,
            std::string("not a firmware message (") + std::string(KindName(info.kind)) + ", " +
                std::to_string(message.size()) + " bytes)");
    } else {
        if (!info.framingOk) {
            Add(FaultKind::Framing, info.block, position,
                std::string(KindName(info.kind)) + " message malformed (" +
                    std::to_string(message.size()) + " bytes)");
        }
        if (!info.lengthOk) {
            Add(FaultKind::LengthField, info.block, position,
                "length field " + std::to_string(info.lengthField) + ", expected " +
                    std::to_string(info.data.size() + kLengthFieldExtra));
        }
        if (!info.checkOk) {
            Add(FaultKind::CheckByte, info.block, position,
                "check byte " + Hex2(info.storedCheck) + ", expected " + Hex2(info.expectedCheck));
        }
    }
    CheckOrder(info, position);
    ++m_messages;
    return info;
}

void FirmwareChecker::CheckOrder(const MessageInfo& info, std::uint64_t position) {
    if (m_checksumSeen) {
        Add(FaultKind::AfterChecksum, info.block, position,
            std::string(KindName(info.kind)) + " message after the checksum message");
        return;
    }
    switch (info.kind) {
        case MessageKind::Erase:
            if (m_messages > 0)
                Add(FaultKind::Order, std::nullopt, position, "erase message is not the first");
            m_eraseSeen = true;
            break;
        case MessageKind::DataBlock: {
            if (!m_eraseSeen && !m_eraseMissing) {
                Add(FaultKind::Order, info.block, position, "data block before the erase message");
                m_eraseMissing = true;
            }
            if (info.block && *info.block != m_nextBlock) {
                Add(FaultKind::BlockNumber, info.block, position,
                    "block " + std::to_string(*info.block) + ", expected " +
                        std::to_string(m_nextBlock));
            }
            m_nextBlock = info.block ? *info.block + 1u : m_nextBlock + 1u;
            ++m_blocks;
            break;
        }
        case MessageKind::Checksum:
            if (!m_eraseSeen && !m_eraseMissing) {
                Add(FaultKind::Order, std::nullopt, position,
                    "checksum message before the erase message");
                m_eraseMissing = true;
            } else if (m_blocks == 0) {
                Add(FaultKind::Order, std::nullopt, position,
                    "checksum message before any data block");
            }
            m_checksumSeen = true;
            break;
        case MessageKind::Status:
        case MessageKind::Other:
            break;
    }
}

void FirmwareChecker::Finish() {
    if (m_finished)
        return;
    m_finished = true;
    if (!m_checksumSeen) {
        Fault fault;
        fault.kind = FaultKind::MissingChecksum;
        fault.index = m_messages;
        fault.position = m_lastPosition;
        fault.detail = "no checksum message after " + std::to_string(m_messages) + " messages";
        m_faults.push_back(std::move(fault));
    }
}

void FirmwareChecker::Add(FaultKind kind, std::optional<std::uint16_t> block,
                          std::uint64_t position, std::string detail) {
    m_faults.push_back(Fault{kind, m_messages, block, position, std::move(detail)});
}

}  // namespace zav::fw
