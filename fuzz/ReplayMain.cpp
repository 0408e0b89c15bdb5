// Runs every file of the folders and files given on the command line through the fuzz target once,
// as libFuzzer would run a corpus: the seeds and the inputs of past crashes become a plain test of
// every build. A broken invariant aborts; a run that finds no input at all fails too, so that a
// mistyped folder cannot pass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& arg) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(arg)) {
        for (const auto& entry : std::filesystem::directory_iterator(arg)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
    } else if (std::filesystem::is_regular_file(arg)) {
        files.push_back(arg);
    }
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        for (const auto& file : Inputs(argv[i])) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", file.c_str());
                return 1;
            }
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
            std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
            std::fflush(stdout);
            // An empty vector's data() may be null; libFuzzer never passes null.
            static const std::uint8_t kNone = 0;
            LLVMFuzzerTestOneInput(bytes.empty() ? &kNone : bytes.data(), bytes.size());
            ++runs;
        }
    }
    if (runs == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    std::printf("%zu inputs ran\n", runs);
    return 0;
}
