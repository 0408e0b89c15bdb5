#include "tests/e2e/DriverSupport.h"

#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace zav::e2e {

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The memory figures of /proc/self/status: the peak, and what is resident now by kind (the JACK
// client library maps the server's shared memory, which counts as resident).
std::string MemoryFigures() {
    std::string figures;
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return figures;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        const std::string text = line;
        for (const std::string key : {"VmHWM:", "RssAnon:", "RssFile:", "RssShmem:"}) {
            if (text.rfind(key, 0) != 0)
                continue;
            std::string value = text.substr(key.size());
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \n") + 1);
            figures += (figures.empty() ? "" : ", ") + key + " " + value;
        }
    }
    std::fclose(status);
    return figures;
}

}  // namespace

std::optional<DriverArgs> ParseDriverArgs(int argc, char** argv, const char* program) {
    DriverArgs args;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--device-pid") {
            args.device = static_cast<pid_t>(std::atoi(argv[i + 1]));
        } else if (arg == "--think-ms") {
            args.thinkMs = std::atoi(argv[i + 1]);
        }
    }
    if (args.device <= 0 || args.thinkMs < 0) {
        std::fprintf(stderr, "usage: %s --device-pid PID [--think-ms MS]\n", program);
        return std::nullopt;
    }
    return args;
}

void Say(const std::string& line) {
    std::printf("zav-e2e-updater: %s\n", line.c_str());
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void SwitchDevice(pid_t device) {
    kill(device, SIGUSR1);
    Say("switched the device to update mode");
}

void SayFigures(int exitCode) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    char line[200];
    std::snprintf(line, sizeof line, "exit %d, cpu %.2f s (user %.2f, system %.2f), peak rss %ld kB",
                  exitCode, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
                  Seconds(usage.ru_utime), Seconds(usage.ru_stime), usage.ru_maxrss);
    Say(line);
    Say("memory: " + MemoryFigures());
}

}  // namespace zav::e2e
