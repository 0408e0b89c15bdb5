#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Profile (INI) files as the program's settings use them: "[section]" lines, "key=value" lines,
// ";" comment lines. Section and key names compare without regard to ASCII case; names and values
// are trimmed of blanks, and a value in matching quotes loses them. The first section and the
// first key of a name count.
namespace zav::platform {

// The value of section/key in the text of a profile file; nullopt when the section or the key is
// missing.
std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);

// The text with section/key set to value: an existing key is replaced on its own line, a missing
// key goes after the last key of its section, a missing section is added at the end. Every other
// line stays as it was.
std::string SetProfileValue(std::string_view content, std::string_view section,
                            std::string_view key, std::string_view value);

// An integer as the profile functions read it: an optional sign, then the leading decimal digits;
// no digits read 0, and the value wraps as a 32-bit one would.
std::int32_t ParseProfileInt(std::string_view text);

// The integer under section/key in the file; `fallback` when the file, the section or the key is
// missing, or the value is empty.
std::int32_t ReadProfileInt(const std::filesystem::path& file, std::string_view section,
                            std::string_view key, std::int32_t fallback);

// Sets section/key in the file, creating the file when it is missing (not its folder). The new file
// is written beside the old one and renamed over it once it is on disk, so a crash leaves either
// the old file or the new one, whole. False when it could not be written; the old file then stays.
bool WriteProfileString(const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace zav::platform
