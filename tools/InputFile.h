#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zav::fwtool {

// Larger inputs are refused before any byte is read: no image comes near it, and the MIDI file
// reader counts sizes in 32 bits.
inline constexpr std::uintmax_t kMaxInputSize = 64u * 1024 * 1024;

// Reads a whole regular file. On failure returns nothing and sets `error` to one line that says
// what is wrong with the file (missing, a directory, not a regular file, too large, unreadable).
std::optional<std::vector<std::uint8_t>> ReadInputFile(const std::filesystem::path& path,
                                                       std::string& error);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so that `path` is
// either the whole new file or untouched. On failure returns false and sets `error`.
bool WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error);

}  // namespace zav::fwtool
