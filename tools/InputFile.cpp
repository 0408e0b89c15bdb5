#include "tools/InputFile.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <system_error>

namespace zav::fwtool {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::string SystemReason() {
    return std::strerror(errno);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadInputFile(const fs::path& path, std::string& error) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        error = "cannot open " + Quoted(path) + ": " +
                (ec ? ec.message() : std::string("no such file"));
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        error = Quoted(path) + " is a directory";
        return std::nullopt;
    }
    if (!fs::is_regular_file(status)) {
        error = Quoted(path) + " is not a regular file";
        return std::nullopt;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = "cannot open " + Quoted(path) + ": " + ec.message();
        return std::nullopt;
    }
    if (size > kMaxInputSize) {
        error = Quoted(path) + " is too large (" + std::to_string(size) + " bytes, at most " +
                std::to_string(kMaxInputSize) + ")";
        return std::nullopt;
    }

    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + Quoted(path) + ": " + SystemReason();
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    // A file that shrank while being read is an error; one that grew is read to its old size.
    if (static_cast<std::uintmax_t>(in.gcount()) != size) {
        error = "cannot read " + Quoted(path) + ": read " + std::to_string(in.gcount()) + " of " +
                std::to_string(size) + " bytes";
        return std::nullopt;
    }
    return bytes;
}

bool WriteFileAtomically(const fs::path& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path temp = path;
    temp += ".tmp" + std::to_string(stamp);
    {
        errno = 0;
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot write " + Quoted(temp) + ": " + SystemReason();
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            error = "cannot write " + Quoted(temp) + ": " + SystemReason();
            std::error_code ignored;
            fs::remove(temp, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        error = "cannot write " + Quoted(path) + ": " + ec.message();
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

}  // namespace zav::fwtool
