// zav-embed INPUT OUTPUT.cpp HEADER QUALIFIED_FUNCTION
//
// Writes a C++ source that defines `std::span<const std::uint8_t> QUALIFIED_FUNCTION()` returning
// the bytes of INPUT. The bytes go in as string literals, which compilers take in far faster than
// a list of integers; each literal stays below the size that every major compiler accepts, and
// the pieces are joined once, on first use.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPieceSize = 32 * 1024;
constexpr std::size_t kBytesPerLine = 64;

void AppendEscaped(std::string& out, std::uint8_t b) {
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\' && b != '?') {
        out += static_cast<char>(b);
    } else {
        // Always three octal digits, so that a digit after the escape cannot extend it.
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\%03o", unsigned{b});
        out += buf;
    }
}

std::string Source(const std::vector<std::uint8_t>& bytes, const std::string& input,
                   const std::string& header, const std::string& function) {
    const auto split = function.rfind("::");
    const std::string ns = split == std::string::npos ? "" : function.substr(0, split);
    const std::string name = split == std::string::npos ? function : function.substr(split + 2);

    std::string out;
    out.reserve(bytes.size() * 2 + 4096);
    out += "// Made at build time from " + input + "; not to be edited.\n";
    out += "#include \"" + header +
           "\"\n\n#include <cstddef>\n#include <cstring>\n#include <vector>\n\n";
    out += "namespace {\n\nconstexpr std::size_t kSize = " + std::to_string(bytes.size()) + ";\n\n";

    std::size_t pieces = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kPieceSize, ++pieces) {
        out += "const char kPiece" + std::to_string(pieces) + "[] =\n";
        const std::size_t end = std::min(bytes.size(), at + kPieceSize);
        for (std::size_t line = at; line < end; line += kBytesPerLine) {
            out += "    \"";
            for (std::size_t i = line; i < std::min(end, line + kBytesPerLine); ++i) {
                AppendEscaped(out, bytes[i]);
            }
            out += "\"\n";
        }
        out += "    ;\n\n";
    }

    out += "struct Piece {\n    const char* data;\n    std::size_t size;\n};\n\n";
    if (pieces > 0) {
        out += "const Piece kPieces[] = {\n";
        for (std::size_t p = 0; p < pieces; ++p) {
            const std::string id = "kPiece" + std::to_string(p);
            out += "    {" + id + ", sizeof " + id + " - 1},\n";
        }
        out += "};\n\n";
    }
    out += "std::vector<std::uint8_t> Join() {\n    std::vector<std::uint8_t> out(kSize);\n";
    if (pieces > 0) {
        out +=
            "    std::size_t at = 0;\n"
            "    for (const Piece& p : kPieces) {\n"
            "        std::memcpy(out.data() + at, p.data, p.size);\n"
            "        at += p.size;\n"
            "    }\n";
    }
    out += "    return out;\n}\n\n}  // namespace\n\n";

    if (!ns.empty())
        out += "namespace " + ns + " {\n\n";
    out +=
        "std::span<const std::uint8_t> " + name +
        "() {\n    static const std::vector<std::uint8_t> bytes = Join();\n    return bytes;\n}\n";
    if (!ns.empty())
        out += "\n}  // namespace " + ns + "\n";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: zav-embed INPUT OUTPUT.cpp HEADER QUALIFIED_FUNCTION\n";
        return 2;
    }
    try {
        const std::filesystem::path input = argv[1];
        const std::filesystem::path output = argv[2];
        std::ifstream in(input, std::ios::binary);
        if (!in) {
            std::cerr << "zav-embed: cannot read " << input << '\n';
            return 1;
        }
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        if (in.bad()) {
            std::cerr << "zav-embed: cannot read " << input << '\n';
            return 1;
        }
        const std::string source = Source(bytes, input.filename().string(), argv[3], argv[4]);

        // Whole or not at all, so that an interrupted build never leaves half a source behind.
        std::filesystem::path temp = output;
        temp += ".tmp";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << source;
            out.close();
            if (!out) {
                std::cerr << "zav-embed: cannot write " << temp << '\n';
                return 1;
            }
        }
        std::filesystem::rename(temp, output);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "zav-embed: " << e.what() << '\n';
        return 1;
    }
}
