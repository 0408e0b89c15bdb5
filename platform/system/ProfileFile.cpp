#include "platform/system/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <fstream>
#include <iterator>
#include <vector>

namespace zav::platform {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

enum class LineKind { Blank, Comment, Section, Key };

// One line of the file, without its line ending; name and value point into the text.
struct Line {
    std::string_view text;
    std::string_view ending;
    LineKind kind = LineKind::Blank;
    std::string_view name;
    std::string_view value;
};

Line ParseLine(std::string_view text, std::string_view ending) {
    Line line;
    line.text = text;
    line.ending = ending;
    const auto body = Trim(text);
    if (body.empty()) {
        return line;
    }
    if (body.front() == ';') {
        line.kind = LineKind::Comment;
    } else if (body.front() == '[') {
        line.kind = LineKind::Section;
        const auto inner = body.substr(1);
        line.name = Trim(inner.substr(0, inner.find(']')));
    } else {
        line.kind = LineKind::Key;
        const auto equals = body.find('=');
        line.name = Trim(body.substr(0, equals));
        if (equals != std::string_view::npos) {
            line.value = Trim(body.substr(equals + 1));
        }
    }
    return line;
}

// The file's text without a leading byte-order mark, split into lines; the mark goes back in front
// of whatever is written.
struct ParsedProfile {
    std::string_view bom;
    std::vector<Line> lines;
};

ParsedProfile Parse(std::string_view content) {
    ParsedProfile profile;
    if (content.starts_with(kUtf8Bom)) {
        profile.bom = content.substr(0, kUtf8Bom.size());
        content.remove_prefix(kUtf8Bom.size());
    }
    while (!content.empty()) {
        const auto newline = content.find('\n');
        std::string_view text = content.substr(0, newline);
        std::string_view ending;
        if (newline == std::string_view::npos) {
            // A carriage return at the very end is the start of a line break, not text: the last
            // section or value reads the same as once a line follows it.
            if (text.ends_with('\r')) {
                text.remove_suffix(1);
                ending = content.substr(text.size(), 1);
            }
            content = {};
        } else {
            ending = content.substr(newline, 1);
            if (text.ends_with('\r')) {
                text.remove_suffix(1);
                ending = content.substr(newline - 1, 2);
            }
            content.remove_prefix(newline + 1);
        }
        profile.lines.push_back(ParseLine(text, ending));
    }
    return profile;
}

// Where section/key lives: the index of its section's header and of the key's line, if any.
struct Location {
    std::optional<std::size_t> section;
    std::optional<std::size_t> key;
    // The section's last key line, or its header when it has none.
    std::size_t lastOfSection = 0;
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::Section) {
            if (where.section) {
                break;
            }
            if (SameName(line.name, section)) {
                where.section = i;
                where.lastOfSection = i;
            }
        } else if (where.section && line.kind == LineKind::Key) {
            where.lastOfSection = i;
            if (!where.key && SameName(line.name, key)) {
                where.key = i;
            }
        }
    }
    return where;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    // The stream buffer throws when the read itself fails (a folder opens, then cannot be read).
    try {
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return std::nullopt;
        }
        return content;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself durable.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool ReplaceFile(const std::filesystem::path& file, std::string_view content) {
    static std::atomic<unsigned> serial{0};
    std::filesystem::path temp = file;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);

    // A rewritten file keeps the old one's permissions; a new one gets the umask's.
    struct stat old {};
    const bool existed = ::stat(file.c_str(), &old) == 0;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        // No other process makes this name, and this one makes it once: a process of the same id
        // died inside a write and left it.
        ::unlink(temp.c_str());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, content);
    if (ok && existed) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolder(file.parent_path());
    return true;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key) {
    const ParsedProfile profile = Parse(content);
    const Location where = Locate(profile.lines, section, key);
    if (!where.key) {
        return std::nullopt;
    }
    return std::string(Unquote(profile.lines[*where.key].value));
}

std::string SetProfileValue(std::string_view content, std::string_view section,
                            std::string_view key, std::string_view value) {
    const ParsedProfile profile = Parse(content);
    const Location where = Locate(profile.lines, section, key);

    auto terminated = [](const Line& line) { return line.ending.ends_with('\n'); };
    // New lines follow the file's own line endings.
    std::string_view newline = "\n";
    for (const Line& line : profile.lines) {
        if (terminated(line)) {
            newline = line.ending;
            break;
        }
    }

    std::string out(profile.bom);
    auto append = [&](std::string_view text, std::string_view ending) {
        out.append(text);
        out.append(ending);
    };
    // Ends the last line written, so that what follows starts a line of its own.
    auto endLine = [&] {
        if (!out.empty() && !out.ends_with('\n')) {
            out.append(out.ends_with('\r') ? std::string_view("\n") : newline);
        }
    };
    const std::string keyLine =
        std::string(where.key ? profile.lines[*where.key].name : key) + "=" + std::string(value);

    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        const Line& line = profile.lines[i];
        if (where.key && i == *where.key) {
            append(keyLine, line.ending.empty() ? newline : line.ending);
            continue;
        }
        append(line.text, line.ending);
        if (!where.key && where.section && i == where.lastOfSection) {
            endLine();
            append(keyLine, terminated(line) ? newline : std::string_view());
        }
    }
    if (!where.section) {
        endLine();
        append("[" + std::string(section) + "]", newline);
        append(keyLine, newline);
    }
    return out;
}

std::int32_t ParseProfileInt(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t ReadProfileInt(const std::filesystem::path& file, std::string_view section,
                            std::string_view key, std::int32_t fallback) {
    const auto content = ReadWholeFile(file);
    if (!content) {
        return fallback;
    }
    const auto value = FindProfileValue(*content, section, key);
    if (!value || value->empty()) {
        return fallback;
    }
    return ParseProfileInt(*value);
}

bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value) {
    // A line break would split the entry; an "=" in a name would move the boundary of the key.
    constexpr std::string_view kBreaks = "\r\n";
    if (section.find_first_of(kBreaks) != std::string_view::npos ||
        key.find_first_of("\r\n=") != std::string_view::npos ||
        value.find_first_of(kBreaks) != std::string_view::npos) {
        return false;
    }
    std::error_code error;
    std::string content;
    if (std::filesystem::exists(file, error)) {
        auto old = ReadWholeFile(file);
        if (!old) {
            return false;
        }
        content = std::move(*old);
    } else if (error) {
        return false;
    }
    return ReplaceFile(file, SetProfileValue(content, section, key, value));
}

}  // namespace zav::platform
