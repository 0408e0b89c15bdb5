// The program killed at random points of its flow, again and again in one settings folder: after
// every kill the status file is whole and says what the point reached allows, and the next run
// starts where that status says and carries on.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"
#include "platform/system/ProfileFile.h"
#include "tests/app/AppBench.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Real time that a run may take before it counts as hung.
constexpr auto kRunBound = std::chrono::seconds(120);

// One line of the driver, with when it was read.
struct Line {
    Clock::time_point at;
    std::string text;
};

// Where a run is killed: a delay after its start, after one of its lines, or after the n-th
// status write of the run has begun (its temporary file made). Never, by default.
struct KillPoint {
    enum class After { Never, Start, Line, WriteBegins };
    After after = After::Never;
    std::string line;
    int write = 1;
    std::chrono::microseconds delay{};
    // Temporary files of the names that the run's first two writes will use, made as it starts:
    // what a killed run of the same process id would have left.
    bool plantTemps = false;
};

// One run of the driver: its lines as they were read, and when its status writes began and
// ended, as the settings folder showed them.
struct Child {
    Clock::time_point started;
    std::vector<Line> lines;
    std::vector<Clock::time_point> writesBegun;
    std::vector<Clock::time_point> writesDone;
    bool killed = false;
    bool hung = false;
    int exitCode = -1;
};

// Runs the driver and kills it with SIGKILL at the kill point.
Child RunDriver(const std::filesystem::path& settingsFile, const KillPoint& kill) {
    Child child;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipe";
        return child;
    }
    // The folder's own notices say when a write begins and ends: a write makes its temporary
    // file, then renames it over the settings file.
    const int notices = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notices < 0 || ::inotify_add_watch(notices, settingsFile.parent_path().c_str(),
                                           IN_CREATE | IN_MOVED_TO) < 0) {
        ADD_FAILURE() << "cannot watch " << settingsFile.parent_path();
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(ZAV_FLOW_DRIVER), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, ZAV_FLOW_DRIVER, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ::close(notices);
        ADD_FAILURE() << "cannot start " << ZAV_FLOW_DRIVER;
        return child;
    }

    child.started = Clock::now();
    if (kill.plantTemps) {
        for (int serial : {0, 1}) {
            auto temp = settingsFile;
            temp += ".tmp-" + std::to_string(pid) + "-" + std::to_string(serial);
            std::ofstream(temp) << "[ZAV_V2_Updater]\nStat";
        }
    }
    std::optional<Clock::time_point> killAt;
    if (kill.after == KillPoint::After::Start)
        killAt = child.started + kill.delay;
    std::string partial;
    bool open = true;
    while (open) {
        const auto now = Clock::now();
        if (!child.killed && killAt && now >= *killAt) {
            ::kill(pid, SIGKILL);
            child.killed = true;
        }
        if (!child.killed && now - child.started > kRunBound) {
            ::kill(pid, SIGKILL);
            child.killed = true;
            child.hung = true;
        }
        // Near the moment of the kill, spin: a poll's millisecond would blur where it lands.
        int timeoutMs = 50;
        if (killAt && !child.killed)
            timeoutMs = *killAt - now < std::chrono::milliseconds(2) ? 0 : 1;
        pollfd fds[2] = {{out[0], POLLIN, 0}, {notices, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) <= 0)
            continue;
        if ((fds[1].revents & POLLIN) != 0) {
            alignas(inotify_event) char events[4096];
            const ssize_t got = ::read(notices, events, sizeof events);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                const std::string name = event->len > 0 ? event->name : "";
                if ((event->mask & IN_CREATE) != 0 && name != settingsFile.filename()) {
                    child.writesBegun.push_back(Clock::now());
                    if (kill.after == KillPoint::After::WriteBegins && !killAt &&
                        static_cast<int>(child.writesBegun.size()) == kill.write) {
                        killAt = child.writesBegun.back() + kill.delay;
                    }
                }
                if ((event->mask & IN_MOVED_TO) != 0 && name == settingsFile.filename())
                    child.writesDone.push_back(Clock::now());
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[4096];
            const ssize_t got = ::read(out[0], buffer, sizeof buffer);
            if (got <= 0) {
                open = false;
                continue;
            }
            partial.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
                child.lines.push_back({Clock::now(), partial.substr(0, end)});
                partial.erase(0, end + 1);
                if (kill.after == KillPoint::After::Line && !killAt &&
                    child.lines.back().text == kill.line) {
                    killAt = child.lines.back().at + kill.delay;
                }
            }
        }
    }
    ::close(out[0]);
    ::close(notices);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        child.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL)
        ADD_FAILURE() << "the driver died of signal " << WTERMSIG(status);
    return child;
}

bool Saw(const Child& child, const std::string& text) {
    for (const auto& line : child.lines) {
        if (line.text == text)
            return true;
    }
    return false;
}

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a whole status file holds: only ever written whole, by this program, with one key.
std::string WholeFile(int status) {
    return "[ZAV_V2_Updater]\nStatus=" + std::to_string(status) + "\n";
}

// The status values that the file may hold once a run that began with `before` has been killed
// after printing what it printed. Status 1 is written between OK at the update-mode prompt and
// the updating window; status 2 between the last progress report and the completion prompt.
std::vector<int> Allowed(const Child& child, int before) {
    if (Saw(child, "window 4"))
        return {2};
    if (Saw(child, "progress 100"))
        return {1, 2};
    if (Saw(child, "window 3"))
        return {1};
    if (Saw(child, "ok 2"))
        return {before, 1};
    return {before};
}

std::size_t RunsToTry() {
    if (const char* runs = std::getenv("ZAV_INTERRUPTED_RUNS"))
        return static_cast<std::size_t>(std::strtoul(runs, nullptr, 10));
    return ZAV_INTERRUPTED_RUNS;
}

TEST(InterruptedUpdate, KilledAnywhereTheStatusStaysWholeAndTheNextRunCarriesOn) {
    zav::test::TestHome home;
    const auto settings = home.SettingsFile();
    std::filesystem::create_directories(settings.parent_path());
    const auto readStatus = [&settings] {
        return zav::platform::ReadProfileInt(settings, "ZAV_V2_Updater", "Status", 0);
    };

    // A whole run first, from no status at all: its timing places the kills.
    const Child whole = RunDriver(settings, {});
    ASSERT_FALSE(whole.hung);
    ASSERT_EQ(whole.exitCode, 0);
    ASSERT_FALSE(whole.lines.empty());
    EXPECT_EQ(whole.lines.front().text, "window 0");
    EXPECT_EQ(whole.lines.back().text, "end 0");
    ASSERT_EQ(ReadAll(settings), WholeFile(2));
    ASSERT_EQ(whole.writesBegun.size(), 2u);
    ASSERT_EQ(whole.writesDone.size(), 2u);
    const auto micros = [](Clock::duration d) {
        return std::max<std::int64_t>(
            1, std::chrono::duration_cast<std::chrono::microseconds>(d).count());
    };
    const std::int64_t runUs = micros(whole.lines.back().at - whole.started);
    const std::int64_t writeUs = micros(std::min(whole.writesDone[0] - whole.writesBegun[0],
                                                 whole.writesDone[1] - whole.writesBegun[1]));
    std::cout << "a whole run " << runUs << " us, a status write " << writeUs << " us or more\n";

    const std::uint32_t seed = [] {
        if (const char* given = std::getenv("ZAV_INTERRUPTED_SEED"))
            return static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10));
        return std::random_device{}();
    }();
    std::cout << "seed " << seed << " (ZAV_INTERRUPTED_SEED repeats it)\n";
    RecordProperty("seed", std::to_string(seed));
    std::mt19937 random(seed);
    const auto uniform = [&random](std::int64_t upper) {
        return std::chrono::microseconds(
            std::uniform_int_distribution<std::int64_t>(0, upper)(random));
    };

    const std::size_t runs = RunsToTry();
    std::size_t killed = 0, completed = 0, insideWrite = 0;
    std::size_t tempsBefore = 0;
    for (std::size_t i = 0; i < runs; ++i) {
        SCOPED_TRACE("run " + std::to_string(i) + ", seed " + std::to_string(seed));
        // One run in four begins as a first run, so that its early phases are cut short too.
        if (random() % 4 == 0)
            std::filesystem::remove(settings);
        const int before = readStatus();
        KillPoint kill;
        switch (random() % 8) {
            case 0:
            case 1:
            case 2:  // anywhere
                kill.after = KillPoint::After::Start;
                kill.delay = uniform(runUs);
                break;
            case 3:  // between OK at the update-mode prompt and the updating window
                kill.after = KillPoint::After::Line;
                kill.line = "ok 2";
                kill.delay = uniform(runUs / 20);
                break;
            case 4:
            case 5:
            case 6:  // inside a status write: of 1, or of 2 once the update is through
                kill.after = KillPoint::After::WriteBegins;
                kill.write = before == 0 ? 1 + static_cast<int>(random() % 2) : 1;
                kill.delay = uniform(writeUs);
                break;
            default:  // not at all
                break;
        }
        const Child child = RunDriver(settings, kill);
        ASSERT_FALSE(child.hung) << "the run did not end";

        // It began where the status it found says, and nothing went wrong in it.
        if (!child.lines.empty()) {
            EXPECT_EQ(child.lines.front().text, before == 0 ? "window 0" : "window 2");
        }
        for (const auto& line : child.lines)
            EXPECT_NE(line.text.rfind("box ", 0), 0u) << line.text;

        // The file is missing only while no status has been written, and whole. Temporary files
        // that a kill left beside it change nothing of what is read.
        std::size_t temps = 0;
        for (const auto& entry : std::filesystem::directory_iterator(settings.parent_path())) {
            if (entry.path() != settings)
                ++temps;
        }
        const int read = readStatus();
        if (std::filesystem::exists(settings)) {
            EXPECT_EQ(ReadAll(settings), WholeFile(read));
        } else {
            EXPECT_EQ(before, 0);
        }
        const auto allowed = child.killed ? Allowed(child, before) : std::vector<int>{2};
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), read), allowed.end())
            << "read " << read << " after the line \""
            << (child.lines.empty() ? "" : child.lines.back().text) << "\"";

        if (child.killed) {
            ++killed;
            if (temps > tempsBefore)
                ++insideWrite;
        } else {
            ++completed;
            EXPECT_EQ(child.exitCode, 0);
            EXPECT_TRUE(Saw(child, "end 0"));
        }
        tempsBefore = temps;
    }
    std::cout << runs << " runs: " << killed << " killed (" << insideWrite
              << " inside a status write, its temporary file left), " << completed
              << " completed\n";
    RecordProperty("killed", std::to_string(killed));
    RecordProperty("killedInsideAWrite", std::to_string(insideWrite));

    // One more run completes from whatever the last one left.
    const int before = readStatus();
    const Child last = RunDriver(settings, {});
    ASSERT_FALSE(last.lines.empty());
    EXPECT_EQ(last.lines.front().text, before == 0 ? "window 0" : "window 2");
    EXPECT_EQ(last.exitCode, 0);
    EXPECT_EQ(ReadAll(settings), WholeFile(2));
}

// A run killed inside a write leaves its temporary file; a later run whose process id is the
// same makes the same names.
TEST(InterruptedUpdate, ATemporaryFileLeftUnderTheSameProcessIdStopsNoWrite) {
    zav::test::TestHome home;
    const auto settings = home.SettingsFile();
    std::filesystem::create_directories(settings.parent_path());
    KillPoint none;
    none.plantTemps = true;
    const Child run = RunDriver(settings, none);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.writesDone.size(), 2u);
    EXPECT_EQ(ReadAll(settings), WholeFile(2));
}

}  // namespace
