#include "update/FirmwareMessages.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace zav::fw {

namespace {

void AppendFrameStart(Bytes& out, std::uint8_t command) {
    out.insert(out.end(), {kSysExStart, kManufacturerId, kSubId, command});
}

void AppendTag(Bytes& out, std::string_view tag) {
    out.insert(out.end(), tag.begin(), tag.end());
}

void Require7Bit(std::uint8_t byte, const char* what) {
    if (byte > 0x7F)
        throw std::invalid_argument(std::string(what) + " is not a 7-bit byte");
}

void Append14Bit(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 7));
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
}

std::uint16_t Read14Bit(std::span<const std::uint8_t> m, std::size_t at) {
    return static_cast<std::uint16_t>(((m[at] & 0x7F) << 7) | (m[at + 1] & 0x7F));
}

bool HasTag(std::span<const std::uint8_t> m, std::size_t at, std::string_view tag) {
    return m.size() >= at + tag.size() && std::equal(tag.begin(), tag.end(), m.begin() + at);
}

// F7 at the end, and nothing in between that a receiver would take for a status byte.
bool FrameBodyOk(std::span<const std::uint8_t> m) {
    return m.back() == kSysExEnd &&
           std::all_of(m.begin() + 1, m.end() - 1, [](std::uint8_t b) { return b <= 0x7F; });
}

// Erase and checksum messages: fixed size, tag after the command byte, one data byte before F7.
void ClassifyFixed(std::span<const std::uint8_t> m, std::uint8_t command, std::string_view tag,
                   std::size_t size, MessageInfo& info) {
    info.framingOk = m.size() == size && m[3] == command && HasTag(m, 4, tag) && FrameBodyOk(m);
    if (m.size() == size)
        info.data = m.subspan(size - 2, 1);
}

void ClassifyDataBlock(std::span<const std::uint8_t> m, MessageInfo& info) {
    if (m.size() >= kBlockDataOffset)
        info.block = Read14Bit(m, kBlockNumberOffset);
    if (m.size() < kDataBlockOverhead)
        return;  // too short to hold a length or check byte
    const std::size_t n = m.size() - kDataBlockOverhead;
    info.framingOk =
        m[3] == kDataBlockCommand && HasTag(m, kBlockTagOffset, kDataBlockTag) && FrameBodyOk(m);
    info.lengthField = Read14Bit(m, kLengthOffset);
    info.lengthOk = info.lengthField == n + kLengthFieldExtra;
    info.storedCheck = m[m.size() - 2];
    info.expectedCheck = CheckByte(m.subspan(kBlockTagOffset, m.size() - 2 - kBlockTagOffset));
    info.checkOk = info.storedCheck == info.expectedCheck;
    info.data = m.subspan(kBlockDataOffset, n);
}

}  // namespace

std::uint8_t CheckByte(std::span<const std::uint8_t> span) {
    const unsigned sum = std::accumulate(span.begin(), span.end(), 0u);
    return static_cast<std::uint8_t>((128 - sum % 128) % 128);
}

Bytes MakeEraseMessage(std::uint8_t data) {
    Require7Bit(data, "erase data byte");
    Bytes out;
    out.reserve(kEraseMessageSize);
    AppendFrameStart(out, kEraseCommand);
    AppendTag(out, kEraseTag);
    out.push_back(data);
    out.push_back(kSysExEnd);
    return out;
}

Bytes MakeDataBlockMessage(std::uint16_t block, std::span<const std::uint8_t> data) {
    if (block > kMax14Bit)
        throw std::invalid_argument("block number exceeds 14 bits");
    if (data.size() > kMaxBlockData)
        throw std::invalid_argument("too many data bytes for a block");
    for (std::uint8_t b : data)
        Require7Bit(b, "block data byte");
    Bytes out;
    out.reserve(data.size() + kDataBlockOverhead);
    AppendFrameStart(out, kDataBlockCommand);
    Append14Bit(out, static_cast<std::uint16_t>(data.size() + kLengthFieldExtra));
    AppendTag(out, kDataBlockTag);
    Append14Bit(out, block);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(CheckByte(std::span(out).subspan(kBlockTagOffset)));
    out.push_back(kSysExEnd);
    return out;
}

Bytes MakeChecksumMessage(std::uint8_t data) {
    Require7Bit(data, "checksum data byte");
    Bytes out;
    out.reserve(kChecksumMessageSize);
    AppendFrameStart(out, kChecksumCommand);
    AppendTag(out, kChecksumTag);
    out.push_back(data);
    out.push_back(kSysExEnd);
    return out;
}

Bytes MakeStatusMessage(std::uint8_t status, std::span<const std::uint8_t> rest,
                        std::uint8_t command) {
    if ((command & 0xF0) != kStatusCommand)
        throw std::invalid_argument("not a status command");
    Require7Bit(status, "status character");
    for (std::uint8_t b : rest)
        Require7Bit(b, "status message byte");
    Bytes out;
    out.reserve(kStatusMinSize + rest.size());
    AppendFrameStart(out, command);
    AppendTag(out, kStatusTag);
    out.push_back(status);
    out.insert(out.end(), rest.begin(), rest.end());
    out.push_back(kSysExEnd);
    return out;
}

std::string_view KindName(MessageKind kind) {
    switch (kind) {
        case MessageKind::Erase:
            return "erase";
        case MessageKind::DataBlock:
            return "data block";
        case MessageKind::Checksum:
            return "checksum";
        case MessageKind::Status:
            return "status";
        case MessageKind::Other:
            break;
    }
    return "other";
}

MessageInfo ClassifyMessage(std::span<const std::uint8_t> message) {
    MessageInfo info;
    const auto& m = message;
    if (m.size() < 4 || m[0] != kSysExStart || m[1] != kManufacturerId || m[2] != kSubId) {
        return info;
    }
    switch (m[3] & 0xF0) {
        case kEraseCommand:
            info.kind = MessageKind::Erase;
            ClassifyFixed(m, kEraseCommand, kEraseTag, kEraseMessageSize, info);
            break;
        case kChecksumCommand:
            info.kind = MessageKind::Checksum;
            ClassifyFixed(m, kChecksumCommand, kChecksumTag, kChecksumMessageSize, info);
            break;
        case kDataBlockCommand:
            info.kind = MessageKind::DataBlock;
            ClassifyDataBlock(m, info);
            break;
        case kStatusCommand:
            info.kind = MessageKind::Status;
            info.framingOk =
                m.size() >= kStatusMinSize && HasTag(m, 4, kStatusTag) && FrameBodyOk(m);
            if (m.size() >= kStatusMinSize)
                info.data = m.subspan(7, 1);
            break;
        default:
            break;
    }
    return info;
}

}  // namespace zav::fw
