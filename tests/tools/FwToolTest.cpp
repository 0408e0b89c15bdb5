#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "smf/CSMF.h"
#include "tests/support/Bytes.h"
#include "tools/FwTool.h"
#include "tools/InputFile.h"
#include "tools/TestImage.h"
#include "update/FirmwareMessages.h"

namespace {

namespace fs = std::filesystem;
using zav::test::Bytes;
using zav::test::Concat;
using zav::test::FromHex;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunTool(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = zav::fwtool::Run(args, out, err);
    return {status, out.str(), err.str()};
}

std::size_t Lines(const std::string& text) {
    return std::ranges::count(text, '\n');
}

class FwTool : public testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        m_dir = fs::path(testing::TempDir()) / ("zav_fwtool_" + std::to_string(rd()));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    }

    std::string Write(const std::string& name, const Bytes& bytes) {
        const fs::path p = m_dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

    static Bytes Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The test image, changed by `doctor` before it is written.
    std::string DoctoredImage(const std::string& name, const std::function<void(CSMF&)>& doctor) {
        CSMF smf;
        zav::fw::BuildTestImage(smf);
        doctor(smf);
        Bytes bytes(smf.GetFileSize());
        std::uint32_t written = 0;
        smf.Write(bytes.data(), written);
        return Write(name, bytes);
    }

    fs::path m_dir;
};

TEST_F(FwTool, HelpAndUsage) {
    const auto help = RunTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.err.empty());
    for (const auto& c : zav::fwtool::Commands()) {
        EXPECT_NE(help.out.find("  " + std::string(c.name) + " "), std::string::npos) << c.name;
    }

    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, "usage: zav-fwtool COMMAND"},
        {{"frob"}, "zav-fwtool: unknown command 'frob'"},
        {{"inspect"}, "zav-fwtool: usage: zav-fwtool inspect FILE\n"},
        {{"verify", "a", "b"}, "zav-fwtool: usage: zav-fwtool verify FILE\n"},
        {{"make-test-image"}, "zav-fwtool: usage: zav-fwtool make-test-image OUT\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const auto r = RunTool(c.args);
        EXPECT_EQ(r.status, zav::fwtool::kExitUsage);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
    }
}

TEST_F(FwTool, MakeTestImageWritesTheWholeImageAndNothingElse) {
    const fs::path out = m_dir / "image.mid";
    Write("image.mid", FromHex("00 01 02"));  // replaced, not appended to
    const auto r = RunTool({"make-test-image", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Read(out) == zav::fw::MakeTestImage());
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);

    const auto bad = RunTool({"make-test-image", (m_dir / "no" / "such" / "dir.mid").string()});
    EXPECT_EQ(bad.status, zav::fwtool::kExitUsage);
    EXPECT_EQ(Lines(bad.err), 1u);
    EXPECT_EQ(bad.err.rfind("zav-fwtool: cannot write", 0), 0u) << bad.err;

    // A directory in the way: the rename fails and the temporary file is removed.
    fs::create_directory(m_dir / "taken");
    fs::create_directory(m_dir / "taken" / "inside");
    const auto taken = RunTool({"make-test-image", (m_dir / "taken").string()});
    EXPECT_NE(taken.status, 0);
    EXPECT_EQ(Lines(taken.err), 1u) << taken.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 2);
}

TEST_F(FwTool, InspectTheTestImage) {
    const std::string path = Write("image.mid", zav::fw::MakeTestImage());
    const auto r = RunTool({"inspect", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "file: " + path +
                         "\n"
                         "size: 1252340 bytes, 1252340 consumed\n"
                         "format 1, 2 tracks, division 480\n"
                         "track 0: 3 events (channel 0, sysex 0, meta 3), ticks 0 to 0\n"
                         "track 1: 2344 events (channel 0, sysex 2343, meta 1), ticks 0 to 140374\n"
                         "  firmware: erase 1, data blocks 2341 (0 to 2340), checksum 1, other "
                         "sysex 0\n");
}

// Format 1, division 96: a track with a text event, two notes under running status and SysEx of
// both forms, an empty track, and two stray bytes after it that the reader does not take.
const Bytes kSmallFile = Concat({
    FromHex("4D 54 68 64 00 00 00 06 00 01 00 02 00 60"),
    FromHex("4D 54 72 6B 00 00 00 1C"),
    FromHex("00 FF 03 02 48 69"),  // sequence name "Hi"
    FromHex("00 90 3C 40"),
    FromHex("10 3E 40"),           // running status
    FromHex("05 F0 03 7E 01 F7"),  // complete SysEx
    FromHex("00 F7 02 01 F7"),     // continuation
    FromHex("00 FF 2F 00"),
    FromHex("4D 54 72 6B 00 00 00 04 00 FF 2F 00"),
    FromHex("AA BB"),
});

TEST_F(FwTool, EventsOfASmallFile) {
    const auto r = RunTool({"events", Write("small.mid", kSmallFile)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"loads\": true, \"format\": 1, \"tracks\": 2, \"division\": 96, \"consumed\": "
              "62, \"events\": [\n"
              "[[0, \"meta\", 3, \"48 69\"],\n"
              " [0, \"channel\", 144, \"3C 40\"],\n"
              " [16, \"channel\", 144, \"3E 40\"],\n"
              " [21, \"sysex\", 0, \"F0 7E 01 F7\"],\n"
              " [21, \"sysex\", 0, \"01 F7\"]],\n"
              "[]]}\n");
    EXPECT_TRUE(r.err.empty());

    const auto bad = RunTool({"events", Write("bad.mid", FromHex("4D 54 68 64 00 00"))});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "{\"loads\": false}\n");
    EXPECT_EQ(Lines(bad.err), 1u);
}

TEST_F(FwTool, VerifyIsCleanOnTheTestImage) {
    const auto r = RunTool({"verify", Write("image.mid", zav::fw::MakeTestImage())});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "clean: 2343 messages, 2341 data blocks\n");
    EXPECT_TRUE(r.err.empty());
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(FwTool, ScheduleOfTheTestImage) {
    const auto r = RunTool({"schedule", Write("image.mid", zav::fw::MakeTestImage())});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty());
    const auto lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 1u + 2343u);
    const auto tick = [](std::size_t b) {
        return std::to_string(zav::fw::TestImageBlockTicks()[b]);
    };
    // Block 11 and block 2331 lines: the first report, and the report of 100.
    const struct {
        std::size_t line;
        std::string start;
        std::string end;
    } cases[] = {
        {0, "index,tick,due_ms,length,message,progress", ""},
        {1, "0,3,3,15,erase,", ""},
        {2, "1,15365,16005,532,block 0,", ""},
        {3, "2,15418,16060,532,block 1,", ""},
        {13, "12," + tick(11) + ",", ",532,block 11,1"},
        {14, "13," + tick(12) + ",", ",532,block 12,"},
        {2333, "2332," + tick(2331) + ",", ",532,block 2331,100"},
        {2342, "2341,139181,144980,316,block 2340,", ""},
        {2343, "2342,140374,146223,14,checksum,", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string& line = lines[c.line];
        EXPECT_EQ(line.rfind(c.start, 0), 0u) << line;
        EXPECT_TRUE(line.ends_with(c.end)) << line;
        if (c.end.empty()) {
            EXPECT_EQ(std::ranges::count(line, ','), 5) << line;
        }
    }

    // One report for each percentage from 1 to 100, in order.
    std::vector<int> reports;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string progress = lines[i].substr(lines[i].rfind(',') + 1);
        if (!progress.empty())
            reports.push_back(std::stoi(progress));
    }
    ASSERT_EQ(reports.size(), 100u);
    for (std::size_t k = 0; k < reports.size(); ++k)
        EXPECT_EQ(reports[k], static_cast<int>(k) + 1);
}

TEST_F(FwTool, ScheduleOfSmallFiles) {
    const auto small = RunTool({"schedule", Write("small.mid", kSmallFile)});
    ASSERT_EQ(small.status, 0) << small.err;
    EXPECT_EQ(small.out,
              "index,tick,due_ms,length,message,progress\n"
              "0,21,0,4,other,\n"
              "1,21,0,2,other,50\n");

    // A tempo of 0 in the first track: refused, as the engine refuses it.
    const Bytes zeroTempo = Concat({
        FromHex("4D 54 68 64 00 00 00 06 00 00 00 01 01 E0"),
        FromHex("4D 54 72 6B 00 00 00 0F"),
        FromHex("00 FF 51 03 00 00 00"),
        FromHex("00 F0 01 F7"),
        FromHex("00 FF 2F 00"),
    });
    const auto refused = RunTool({"schedule", Write("zero.mid", zeroTempo)});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.out.empty());
    EXPECT_EQ(Lines(refused.err), 1u);
    EXPECT_NE(refused.err.find("Set Tempo"), std::string::npos) << refused.err;
}

// Event index in the data track: name, erase, then block b at 2 + b, then the checksum. Verify
// counts SysEx messages only, so block b is message b + 1.
std::span<std::uint8_t> BlockBytes(CSMF& smf, std::size_t block) {
    auto& e = *smf.m_tracks[1]->m_events[2 + block];
    return {e.data.get(), e.length};
}

void SetMessage(CSMF& smf, std::size_t event, const Bytes& message) {
    smf.m_tracks[1]->m_events[event]->SetBytes(message);
}

TEST_F(FwTool, VerifyReportsEachFaultWithBlockAndTick) {
    const auto ticks = zav::fw::TestImageBlockTicks();
    const auto tick = [&](std::size_t b) { return std::to_string(ticks[b]); };
    const auto data = zav::fw::TestImageBlockData();

    const struct {
        std::string name;
        std::function<void(CSMF&)> doctor;
        std::vector<std::string> faults;  // each the start of a fault line, in order
    } cases[] = {
        {"data byte",
         [](CSMF& s) { BlockBytes(s, 5)[100] ^= 0x01; },
         {"fault: check byte: message 6, block 5, tick " + tick(5) + ": check byte "}},
        {"length field",
         [](CSMF& s) { BlockBytes(s, 2340)[5] ^= 0x01; },
         {"fault: length field: message 2341, block 2340, tick " + tick(2340) +
          ": length field 309, expected 308"}},
        {"block renumbered",
         [&](CSMF& s) { SetMessage(s, 2 + 7, zav::fw::MakeDataBlockMessage(8, data[7])); },
         {"fault: block number: message 8, block 8, tick " + tick(7) + ": block 8, expected 7",
          "fault: block number: message 9, block 8, tick " + tick(8) + ": block 8, expected 9"}},
        {"erase and block 0 swapped",
         [&](CSMF& s) {
             SetMessage(s, 1, zav::fw::MakeDataBlockMessage(0, data[0]));
             SetMessage(s, 2, zav::fw::MakeEraseMessage(0x02));
         },
         {"fault: order: message 0, block 0, tick 3: data block before the erase message",
          "fault: order: message 1, tick " + tick(0) + ": erase message is not the first"}},
        {"no checksum",
         [](CSMF& s) { s.m_tracks[1]->m_events.pop_back(); },
         {"fault: missing checksum: message 2342, tick " + tick(2340)}},
        {"status message at the end",
         [](CSMF& s) {
             auto e = std::make_unique<MidiEvent>();
             e->kind = MidiEventKind::SysEx;
             e->tick = 140400;
             e->SetBytes(zav::fw::MakeStatusMessage('1'));
             s.m_tracks[1]->AddEvent(std::move(e));
         },
         {"fault: framing: message 2343, tick 140400: not a firmware message (status",
          "fault: after checksum: message 2343, tick 140400"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = RunTool({"verify", DoctoredImage("doctored.mid", c.doctor)});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.empty()) << r.err;
        std::istringstream lines(r.out);
        for (const auto& want : c.faults) {
            std::string line;
            std::getline(lines, line);
            EXPECT_EQ(line.rfind(want, 0), 0u) << "got:  " << line << "\nwant: " << want;
        }
        std::string summary;
        std::getline(lines, summary);
        EXPECT_EQ(summary.rfind(std::to_string(c.faults.size()) + " faults: ", 0), 0u) << r.out;
    }
}

TEST_F(FwTool, BadInputsFailWithOneLine) {
    const Bytes image = zav::fw::MakeTestImage();
    std::mt19937 rng(7);
    Bytes garbage(4096);
    for (auto& b : garbage)
        b = static_cast<std::uint8_t>(rng());

    const std::string huge = (m_dir / "huge.mid").string();
    std::ofstream(huge).close();
    fs::resize_file(huge, zav::fwtool::kMaxInputSize + 1);  // sparse: nothing is written

    const struct {
        std::string name;
        std::string path;
        int status;
        std::string err;
    } cases[] = {
        {"missing", (m_dir / "missing.mid").string(), 2, "cannot open"},
        {"directory", m_dir.string(), 2, "is a directory"},
        {"huge", huge, 2, "is too large"},
        {"empty", Write("empty.mid", {}), 1, "is not a loadable Standard MIDI File"},
        {"truncated", Write("cut.mid", Bytes(image.begin(), image.begin() + 600000)), 1,
         "is not a loadable"},
        {"garbage", Write("garbage.mid", garbage), 1, "is not a loadable"},
        {"header only", Write("header.mid", Bytes(image.begin(), image.begin() + 14)), 1,
         "is not a loadable"},
    };
    for (const char* command : {"inspect", "events", "verify", "schedule"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(command) + " " + c.name);
            const auto r = RunTool({command, c.path});
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(Lines(r.err), 1u) << r.err;
            EXPECT_EQ(r.err.rfind("zav-fwtool: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        }
    }
}

TEST_F(FwTool, InputAtTheSizeLimitIsRead) {
    const fs::path path = m_dir / "limit.mid";
    std::ofstream(path).close();
    fs::resize_file(path, zav::fwtool::kMaxInputSize);
    std::string error;
    const auto bytes = zav::fwtool::ReadInputFile(path, error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(bytes->size(), zav::fwtool::kMaxInputSize);
}

TEST_F(FwTool, UnreadableFile) {
    const std::string path = Write("locked.mid", zav::fw::MakeEraseMessage(0));
    fs::permissions(path, fs::perms::none);
    if (std::ifstream(path))
        GTEST_SKIP() << "permissions are not enforced for this user";
    const auto r = RunTool({"inspect", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.err), 1u);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
}

}  // namespace
