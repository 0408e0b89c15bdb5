// The status file under arbitrary content. The input is written to a settings file; ReadStatus must
// give what the profile rules give, worked out here on the side: the first section of the name,
// its first key of the name (both without regard to ASCII case), the value's optional sign and
// leading digits, wrapping as a 32-bit integer, 0 when anything is missing. Then a status is
// written: it must read back, and every other line of the file must stay as it was, in order.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/Settings.h"
#include "fuzz/FuzzCheck.h"

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

std::int32_t ExpectedStatus(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    bool inSection = false;
    for (std::string_view line : Lines(text)) {
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        line = Trim(line);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (inSection)
                return 0;
            const auto inner = line.substr(1);
            inSection = SameName(Trim(inner.substr(0, inner.find(']'))), "ZAV_V2_Updater");
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || !SameName(Trim(line.substr(0, equals)), "Status"))
            continue;
        std::string_view value =
            equals == std::string_view::npos ? std::string_view{} : Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        value = Trim(value);
        std::uint32_t n = 0;
        bool negative = false;
        if (!value.empty() && (value.front() == '-' || value.front() == '+')) {
            negative = value.front() == '-';
            value.remove_prefix(1);
        }
        for (const char c : value) {
            if (c < '0' || c > '9')
                break;
            n = n * 10 + static_cast<std::uint32_t>(c - '0');
        }
        return static_cast<std::int32_t>(negative ? 0u - n : n);
    }
    return 0;
}

std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The settings folder of this process, removed at its exit.
struct Scratch {
    Scratch() {
        // Memory-backed when there is such a folder: every write of the status syncs the file.
        std::error_code error;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, error))
            base = std::filesystem::temp_directory_path();
        folder = base / ("zav-status-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::filesystem::path folder;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scratch scratch;
    const std::filesystem::path file = scratch.folder / "ZAV_V2_Updater.ini";
    const std::string old(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(old.data(), static_cast<std::streamsize>(old.size()));
        ZAV_FUZZ_CHECK(out.good());
    }
    ZAV_FUZZ_CHECK(ReadStatus(file) == ExpectedStatus(old));

    // A status other than the one read, so that the write must change the file.
    const int status = ExpectedStatus(old) == 1 ? 2 : 1;
    WriteStatus(file, status);
    const std::string now = Contents(file);
    ZAV_FUZZ_CHECK(ReadStatus(file) == status);
    ZAV_FUZZ_CHECK(ExpectedStatus(now) == status);

    // Line by line: the old lines come back in order but for at most one (the status line, now
    // with its new value), and no more than the new section, its key and a line break are added.
    const auto before = Lines(old);
    const auto after = Lines(now);
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    ZAV_FUZZ_CHECK(prefix + suffix + 1 >= before.size());
    ZAV_FUZZ_CHECK(after.size() <= before.size() + 3);
    ZAV_FUZZ_CHECK(old.starts_with("\xEF\xBB\xBF") == now.starts_with("\xEF\xBB\xBF"));
    return 0;
}
