#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "app/Settings.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;

// What stands where the settings file belongs.
enum class Place {
    File,
    Directory,       // a folder of that name
    Unreadable,      // the file without read permission
    ReadOnlyFolder,  // the file in a folder without write permission
};

// Lines put in front of the case's text.
enum class Filler { None, Garbage, Huge };

struct StatusCase {
    const char* name;
    Place place;
    Filler filler;
    std::string content;
    int read;
    // The file after writing status 1 (the filler in front); nullopt when the write cannot be done
    // and the old file must stay byte for byte.
    std::optional<std::string> afterWrite;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << c.name;
}

// Binary bytes, every value but the line breaks, in lines of 64: a file of that kind is garbage to
// the reader, but its lines stay lines, so that the text after it is read as written.
std::string Garbage() {
    std::string out;
    std::uint32_t x = 12345;
    for (int line = 0; line < 64; ++line) {
        for (int i = 0; i < 63; ++i) {
            x = x * 1103515245u + 12345u;
            auto c = static_cast<char>(x >> 16);
            if (c == '\n' || c == '\r')
                c = '\0';
            out += c;
        }
        out += '\n';
    }
    return out;
}

// 20 MB of other sections and comments in front.
std::string Huge() {
    std::string out;
    const std::string block = "[Editor]\nTheme=dark\n; " + std::string(100, 'x') + "\n";
    while (out.size() < 20u * 1024 * 1024)
        out += block;
    return out;
}

std::string FillerText(Filler filler) {
    switch (filler) {
        case Filler::None:
            return {};
        case Filler::Garbage:
            return Garbage();
        case Filler::Huge:
            return Huge();
    }
    return {};
}

const StatusCase kCases[] = {
    {"binary garbage", Place::File, Filler::Garbage, "", 0, "[ZAV_V2_Updater]\nStatus=1\n"},
    {"binary garbage before the section", Place::File, Filler::Garbage,
     "[ZAV_V2_Updater]\nStatus=2\n", 2, "[ZAV_V2_Updater]\nStatus=1\n"},
    {"a 20 MB file", Place::File, Filler::Huge, "[ZAV_V2_Updater]\nStatus=2\n", 2,
     "[ZAV_V2_Updater]\nStatus=1\n"},
    // An editor that saves UTF-8 puts a byte-order mark in front; the section after it still
    // counts, and the mark stays.
    {"UTF-8 byte-order mark", Place::File, Filler::None, "\xEF\xBB\xBF[ZAV_V2_Updater]\nStatus=2\n",
     2, "\xEF\xBB\xBF[ZAV_V2_Updater]\nStatus=1\n"},
    {"CRLF line ends", Place::File, Filler::None,
     "[Editor]\r\nTheme=dark\r\n[ZAV_V2_Updater]\r\nStatus=2\r\n", 2,
     "[Editor]\r\nTheme=dark\r\n[ZAV_V2_Updater]\r\nStatus=1\r\n"},
    {"CRLF, the key added to its section", Place::File, Filler::None,
     "[ZAV_V2_Updater]\r\nOther=x\r\n[Editor]\r\n", 0,
     "[ZAV_V2_Updater]\r\nOther=x\r\nStatus=1\r\n[Editor]\r\n"},
    // A carriage return that ends the file is a line break begun: the key before it is the key,
    // and the status is written there, not on a line after it that the reader would never reach.
    {"a carriage return ending the file after the key", Place::File, Filler::None,
     "[ZAV_V2_Updater]\nStatus\r", 0, "[ZAV_V2_Updater]\nStatus=1\r"},
    {"a carriage return ending the file after the value", Place::File, Filler::None,
     "[ZAV_V2_Updater]\nStatus=2\r", 2, "[ZAV_V2_Updater]\nStatus=1\r"},
    // As the profile functions do: the first section of the name and its first key of the name.
    {"duplicated keys: the first counts", Place::File, Filler::None,
     "[ZAV_V2_Updater]\nStatus=2\nStatus=7\n", 2, "[ZAV_V2_Updater]\nStatus=1\nStatus=7\n"},
    {"duplicated sections: the first counts", Place::File, Filler::None,
     "[ZAV_V2_Updater]\nStatus=2\n[zav_v2_updater]\nStatus=7\n", 2,
     "[ZAV_V2_Updater]\nStatus=1\n[zav_v2_updater]\nStatus=7\n"},
    {"duplicated sections: the key only in the second", Place::File, Filler::None,
     "[ZAV_V2_Updater]\nOther=x\n[ZAV_V2_Updater]\nStatus=7\n", 0,
     "[ZAV_V2_Updater]\nOther=x\nStatus=1\n[ZAV_V2_Updater]\nStatus=7\n"},
    {"a negative value", Place::File, Filler::None, "[ZAV_V2_Updater]\nStatus=-5\n", -5,
     "[ZAV_V2_Updater]\nStatus=1\n"},
    // The digits are taken as a 32-bit integer takes them: 10^20 - 1 modulo 2^32.
    {"an overflowing value", Place::File, Filler::None,
     "[ZAV_V2_Updater]\nStatus=99999999999999999999\n", 1661992959, "[ZAV_V2_Updater]\nStatus=1\n"},
    {"leading digits only", Place::File, Filler::None, "[ZAV_V2_Updater]\nStatus=2x7\n", 2,
     "[ZAV_V2_Updater]\nStatus=1\n"},
    {"no digits", Place::File, Filler::None, "[ZAV_V2_Updater]\nStatus=x2\n", 0,
     "[ZAV_V2_Updater]\nStatus=1\n"},
    {"spaces around = and the value", Place::File, Filler::None,
     "[ZAV_V2_Updater]\n  Status \t=  2  \n", 2, "[ZAV_V2_Updater]\nStatus=1\n"},
    {"the key in another section only", Place::File, Filler::None, "[Other]\nStatus=2\n", 0,
     "[Other]\nStatus=2\n[ZAV_V2_Updater]\nStatus=1\n"},
    {"a directory in the file's place", Place::Directory, Filler::None, "", 0, std::nullopt},
    {"no permission to read", Place::Unreadable, Filler::None, "[ZAV_V2_Updater]\nStatus=2\n", 0,
     std::nullopt},
    {"no permission to write the folder", Place::ReadOnlyFolder, Filler::None,
     "[ZAV_V2_Updater]\nStatus=2\n", 2, std::nullopt},
};

std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Equal, or where the two first differ: a 20 MB file is not printed whole.
testing::AssertionResult SameText(const std::string& actual, const std::string& expected) {
    if (actual == expected)
        return testing::AssertionSuccess();
    const auto at = static_cast<std::size_t>(
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
        actual.begin());
    return testing::AssertionFailure()
           << "sizes " << actual.size() << " and " << expected.size() << ", first difference at "
           << at << ": \"" << actual.substr(at, 40) << "\" instead of \"" << expected.substr(at, 40)
           << "\"";
}

class StatusFileUnderBadInput : public testing::TestWithParam<StatusCase> {
protected:
    ~StatusFileUnderBadInput() override {
        std::error_code ignored;
        fs::permissions(m_folder.Path() / "config", fs::perms::owner_all, fs::perm_options::add,
                        ignored);
    }

    fs::path Folder() const { return m_folder.Path() / "config"; }
    fs::path File() const { return Folder() / "ZAV_V2_Updater.ini"; }

    zav::test::TempFolder m_folder;
};

TEST_P(StatusFileUnderBadInput, ReadsByTheProfileRulesAndWritesWholeOrNotAtAll) {
    const StatusCase& c = GetParam();
    if ((c.place == Place::Unreadable || c.place == Place::ReadOnlyFolder) && ::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which reads and writes whatever the permissions say";
    }
    fs::create_directories(Folder());
    const std::string old = FillerText(c.filler) + c.content;
    if (c.place == Place::Directory) {
        fs::create_directory(File());
    } else {
        std::ofstream(File(), std::ios::binary) << old;
    }
    if (c.place == Place::Unreadable)
        fs::permissions(File(), fs::perms::owner_write, fs::perm_options::replace);
    if (c.place == Place::ReadOnlyFolder) {
        fs::permissions(Folder(), fs::perms::owner_read | fs::perms::owner_exec,
                        fs::perm_options::replace);
    }

    EXPECT_EQ(ReadStatus(File()), c.read);

    WriteStatus(File(), 1);
    if (c.place == Place::Unreadable)
        fs::permissions(File(), fs::perms::owner_read, fs::perm_options::add);
    if (c.afterWrite) {
        EXPECT_TRUE(SameText(Contents(File()), FillerText(c.filler) + *c.afterWrite));
        EXPECT_EQ(ReadStatus(File()), 1);
    } else if (c.place == Place::Directory) {
        EXPECT_TRUE(fs::is_directory(File()));
        EXPECT_TRUE(fs::is_empty(File()));
    } else {
        EXPECT_TRUE(SameText(Contents(File()), old)) << "the old file was not kept whole";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), {}), 1)
        << "something was left beside the settings file";
}

INSTANTIATE_TEST_SUITE_P(Cases, StatusFileUnderBadInput, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<StatusCase>& param) {
                             std::string name;
                             for (const char ch : std::string(param.param.name)) {
                                 if (std::isalnum(static_cast<unsigned char>(ch)))
                                     name += ch;
                             }
                             return name;
                         });

}  // namespace
