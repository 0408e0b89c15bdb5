#include "tools/Commands.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "smf/CSMF.h"
#include "tools/FwTool.h"
#include "tools/InputFile.h"
#include "tools/TestImage.h"
#include "update/FirmwareChecker.h"
#include "update/FirmwareMessages.h"
#include "update/SendSchedule.h"
#include "update/UpdateProgress.h"

namespace zav::fwtool {

namespace fs = std::filesystem;

namespace {

void Error(std::ostream& err, const std::string& message) {
    err << "zav-fwtool: " << message << '\n';
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

const char* KindName(MidiEventKind kind) {
    switch (kind) {
        case MidiEventKind::Channel:
            return "channel";
        case MidiEventKind::SysEx:
            return "sysex";
        case MidiEventKind::Meta:
            return "meta";
    }
    return "unknown";
}

struct Loaded {
    std::vector<std::uint8_t> bytes;
    CSMF smf;
    std::uint32_t consumed = 0;
    bool loads = false;
};

// Reads the file and loads it. Nothing when the file cannot be read (the error is written);
// otherwise the document, with `loads` telling whether the reader accepted it.
std::unique_ptr<Loaded> Load(const fs::path& path, std::ostream& err) {
    std::string error;
    auto bytes = ReadInputFile(path, error);
    if (!bytes) {
        Error(err, error);
        return nullptr;
    }
    auto doc = std::make_unique<Loaded>();
    doc->bytes = std::move(*bytes);
    doc->loads = doc->smf.Load(doc->bytes.data(), static_cast<std::uint32_t>(doc->bytes.size()),
                               doc->consumed);
    if (!doc->loads) {
        Error(err, "'" + path.string() + "' is not a loadable Standard MIDI File (" +
                       std::to_string(doc->bytes.size()) + " bytes)");
    }
    return doc;
}

// The SysEx events of a document in the order the update engine sends them.
template <typename Visit>
void ForEachSysEx(const CSMF& smf, Visit visit) {
    for (const auto& track : smf.m_tracks) {
        for (const auto& e : track->m_events) {
            if (e->kind == MidiEventKind::SysEx)
                visit(*e);
        }
    }
}

std::string MessageName(std::span<const std::uint8_t> message) {
    const auto info = zav::fw::ClassifyMessage(message);
    switch (info.kind) {
        case zav::fw::MessageKind::Erase:
            return "erase";
        case zav::fw::MessageKind::DataBlock:
            return info.block ? "block " + std::to_string(*info.block) : "other";
        case zav::fw::MessageKind::Checksum:
            return "checksum";
        default:
            return "other";
    }
}

}  // namespace

int MakeTestImageCommand(const fs::path& path, std::ostream& out, std::ostream& err) {
    std::string error;
    if (!WriteFileAtomically(path, zav::fw::MakeTestImage(), error)) {
        Error(err, error);
        return kExitUsage;
    }
    out << "wrote " << path.string() << " (" << zav::fw::kTestImageSize << " bytes)\n";
    return kExitOk;
}

int InspectCommand(const fs::path& path, std::ostream& out, std::ostream& err) {
    const auto doc = Load(path, err);
    if (!doc)
        return kExitUsage;
    if (!doc->loads)
        return kExitFailed;
    const CSMF& smf = doc->smf;

    out << "file: " << path.string() << '\n'
        << "size: " << doc->bytes.size() << " bytes, " << doc->consumed << " consumed\n"
        << "format " << smf.m_header.m_format << ", " << smf.m_header.m_trackCount
        << " tracks, division " << smf.m_header.m_division << '\n';
    for (std::size_t t = 0; t < smf.m_tracks.size(); ++t) {
        const auto& events = smf.m_tracks[t]->m_events;
        std::size_t channel = 0, sysex = 0, meta = 0;
        std::size_t erase = 0, blocks = 0, checksum = 0, otherSysEx = 0;
        std::optional<std::uint16_t> firstBlock, lastBlock;
        for (const auto& e : events) {
            if (e->kind == MidiEventKind::Channel)
                ++channel;
            if (e->kind == MidiEventKind::Meta)
                ++meta;
            if (e->kind != MidiEventKind::SysEx)
                continue;
            ++sysex;
            const auto info = zav::fw::ClassifyMessage(e->Bytes());
            switch (info.kind) {
                case zav::fw::MessageKind::Erase:
                    ++erase;
                    break;
                case zav::fw::MessageKind::DataBlock:
                    ++blocks;
                    if (info.block) {
                        if (!firstBlock)
                            firstBlock = info.block;
                        lastBlock = info.block;
                    }
                    break;
                case zav::fw::MessageKind::Checksum:
                    ++checksum;
                    break;
                default:
                    ++otherSysEx;
                    break;
            }
        }
        out << "track " << t << ": " << events.size() << " events (channel " << channel
            << ", sysex " << sysex << ", meta " << meta << "), ";
        if (events.empty()) {
            out << "no ticks\n";
        } else {
            out << "ticks " << events.front()->tick << " to " << events.back()->tick << '\n';
        }
        if (sysex > 0) {
            out << "  firmware: erase " << erase << ", data blocks " << blocks;
            if (firstBlock)
                out << " (" << *firstBlock << " to " << *lastBlock << ")";
            out << ", checksum " << checksum << ", other sysex " << otherSysEx << '\n';
        }
    }
    return kExitOk;
}

int EventsCommand(const fs::path& path, std::ostream& out, std::ostream& err) {
    const auto doc = Load(path, err);
    if (!doc)
        return kExitUsage;
    if (!doc->loads) {
        out << "{\"loads\": false}\n";
        return kExitFailed;
    }
    const CSMF& smf = doc->smf;
    out << "{\"loads\": true, \"format\": " << smf.m_header.m_format
        << ", \"tracks\": " << smf.m_header.m_trackCount
        << ", \"division\": " << smf.m_header.m_division << ", \"consumed\": " << doc->consumed
        << ", \"events\": [";
    for (std::size_t t = 0; t < smf.m_tracks.size(); ++t) {
        out << (t ? ",\n[" : "\n[");
        const auto& events = smf.m_tracks[t]->m_events;
        for (std::size_t i = 0; i < events.size(); ++i) {
            const auto& e = *events[i];
            out << (i ? ",\n " : "") << '[' << e.tick << ", \"" << KindName(e.kind) << "\", "
                << unsigned{e.status} << ", \"" << Hex(e.Bytes()) << "\"]";
        }
        out << ']';
    }
    out << "]}\n";
    return kExitOk;
}

int VerifyCommand(const fs::path& path, std::ostream& out, std::ostream& err) {
    const auto doc = Load(path, err);
    if (!doc)
        return kExitUsage;
    if (!doc->loads)
        return kExitFailed;

    zav::fw::FirmwareChecker checker;
    ForEachSysEx(doc->smf, [&](const MidiEvent& e) { checker.Feed(e.Bytes(), e.tick); });
    checker.Finish();

    for (const auto& f : checker.Faults()) {
        out << "fault: " << zav::fw::FaultName(f.kind) << ": message " << f.index;
        if (f.block)
            out << ", block " << *f.block;
        out << ", tick " << f.position << ": " << f.detail << '\n';
    }
    out << (checker.Clean() ? "clean" : std::to_string(checker.Faults().size()) + " faults") << ": "
        << checker.MessageCount() << " messages, " << checker.BlockCount() << " data blocks\n";
    return checker.Clean() ? kExitOk : kExitFailed;
}

int ScheduleCommand(const fs::path& path, std::ostream& out, std::ostream& err) {
    const auto doc = Load(path, err);
    if (!doc)
        return kExitUsage;
    if (!doc->loads)
        return kExitFailed;
    const auto map = zav::engine::BuildTempoMap(doc->smf);
    if (!map) {
        Error(err, "'" + path.string() +
                       "' has a Set Tempo event without a usable tempo in its first track");
        return kExitFailed;
    }
    const SendSchedule schedule = zav::engine::BuildSendSchedule(doc->smf, *map);
    zav::engine::ProgressTracker progress(schedule.size());
    out << "index,tick,due_ms,length,message,progress\n";
    for (std::size_t i = 0; i < schedule.size(); ++i) {
        const ScheduledMessage& m = schedule[i];
        out << i << ',' << m.tick << ',' << m.timeMs << ',' << m.bytes.size() << ','
            << MessageName(m.bytes) << ',';
        if (const auto reported = progress.Sent(i))
            out << *reported;
        out << '\n';
    }
    return kExitOk;
}

}  // namespace zav::fwtool
