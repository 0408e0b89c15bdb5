#include "app/terminal/TerminalFace.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>
#include <system_error>
#include <utility>

#include "common/CGenericException.h"
#include "platform/clock/Clock.h"

namespace zav::app::terminal {

namespace {

constexpr int kBarWidth = 30;
// The most that follows the bar: " 100%  1:02:03 elapsed, about 1:02:03 left".
constexpr int kTextAfterBar = 42;
constexpr std::string_view kClearLine = "\r\x1b[2K";
constexpr std::string_view kCannotInterrupt =
    "The update cannot be interrupted: it goes on until the whole firmware has been sent.";

// Shared with the signal handlers, which may run on any thread: lock-free atomics, and modes
// written before the atomic that arms them.
std::atomic<int> g_signalPipe{-1};
std::atomic<int> g_rawFd{-1};
std::atomic<int> g_openLineFd{-1};
termios g_savedModes{};
termios g_rawModes{};

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT};
struct sigaction g_previousActions[std::size(kHandledSignals)];
struct sigaction g_previousPipeAction;

// Async-signal-safe.
void RestoreTerminal() noexcept {
    const int fd = g_rawFd.exchange(-1);
    if (fd >= 0) {
        tcsetattr(fd, TCSANOW, &g_savedModes);
    }
}

void EndOpenLineForSignal() noexcept {
    const int fd = g_openLineFd.exchange(-1);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = write(fd, "\n", 1);
    }
}

extern "C" void OnSignal(int signal);

void HandleWith(int signal, void (*handler)(int)) noexcept {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

// Only async-signal-safe calls: the pump loop does the rest.
extern "C" void OnSignal(int signal) {
    const int savedErrno = errno;
    switch (signal) {
        case SIGINT: {
            const int fd = g_signalPipe.load();
            if (fd >= 0) {
                const auto byte = static_cast<unsigned char>(signal);
                [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
            }
            break;
        }
        case SIGTSTP: {
            // Stopped: the shell gets its terminal back as it was; raw mode again on SIGCONT.
            const int fd = g_rawFd.load();
            if (fd >= 0) {
                tcsetattr(fd, TCSANOW, &g_savedModes);
            }
            HandleWith(SIGTSTP, SIG_DFL);
            raise(SIGTSTP);
            break;
        }
        case SIGCONT: {
            HandleWith(SIGTSTP, OnSignal);
            const int fd = g_rawFd.load();
            if (fd >= 0) {
                tcsetattr(fd, TCSANOW, &g_rawModes);
            }
            break;
        }
        default:
            // The program ends by this signal, with the terminal as it found it.
            RestoreTerminal();
            EndOpenLineForSignal();
            HandleWith(signal, SIG_DFL);
            raise(signal);
            break;
    }
    errno = savedErrno;
}

void RestoreAtExit() {
    RestoreTerminal();
    EndOpenLineForSignal();
}

void OpenPipe(int (&fds)[2]) {
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
}

void ClosePipe(int (&fds)[2]) {
    for (int& fd : fds) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

void Drain(int fd) {
    char buffer[64];
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
}

// A terminal that cannot clear a line gets plain lines.
bool DumbTerminal() {
    const char* term = std::getenv("TERM");
    return term != nullptr && std::string_view(term) == "dumb";
}

// As wide as fits on one line of the terminal, so that the carriage return finds its start.
int BarWidth(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return kBarWidth;
    }
    const int room = static_cast<int>(size.ws_col) - 1 - 2 - kTextAfterBar;
    return room >= 10 ? std::min(kBarWidth, room) : 0;
}

std::string KeysLine(const WindowSpec& windowSpec) {
    std::string keys;
    if (windowSpec.okVisible) {
        keys = "[Enter] OK";
    }
    if (windowSpec.cancelVisible) {
        if (!keys.empty()) {
            keys += "   ";
        }
        keys += "[Esc/q] Cancel";
    }
    return keys;
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

// Non-canonical, no echo, for the life of one wait for keys; Ctrl-C stays a signal, so it means
// the same whether the face waits or not.
class TerminalFace::RawMode {
public:
    explicit RawMode(const TerminalFace& face) {
        if (!face.m_inIsTerminal || g_rawFd.load() >= 0) {
            return;
        }
        termios modes{};
        if (tcgetattr(face.m_in, &modes) != 0) {
            return;
        }
        g_savedModes = modes;
        modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
        g_rawModes = modes;
        // Armed before the change: a signal in between puts back what is there anyway.
        g_rawFd.store(face.m_in);
        if (tcsetattr(face.m_in, TCSANOW, &modes) != 0) {
            g_rawFd.store(-1);
            return;
        }
        m_entered = true;
    }
    ~RawMode() {
        if (m_entered) {
            RestoreTerminal();
        }
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

private:
    bool m_entered = false;
};

class TerminalFace::Window final : public FaceWindow {
public:
    Window(TerminalFace& face, const WindowSpec& windowSpec, DialogCommands& commands)
        : m_face(face), m_windowSpec(windowSpec) {
        m_target.windowSpec = &m_windowSpec;
        m_target.commands = &commands;
        m_face.m_windows.push_back(this);
        if (!m_windowSpec.text.empty()) {
            m_face.PrintWindow(m_windowSpec, m_windowSpec.text);
        }
    }
    ~Window() override {
        if (m_face.m_barWindow == this) {
            m_face.EndOpenLine();
            m_face.m_barWindow = nullptr;
        }
        std::erase(m_face.m_windows, this);
    }

    void SetText(const std::wstring& text) override {
        m_windowSpec.text = text;
        m_face.PrintWindow(m_windowSpec, text);
    }
    void SetProgressRange(int lower, int upper) override {
        m_lower = lower;
        m_upper = upper;
        m_startMs = platform::CurrentClock().MonotonicMs();
        m_face.DrawProgress(*this, lower, true);
    }
    void SetProgressFromWorker(int position) override {
        if (std::this_thread::get_id() == m_face.m_uiThread) {
            m_face.DrawProgress(*this, position, false);
            return;
        }
        m_face.RunOnUiThread([this, position] { m_face.DrawProgress(*this, position, false); });
    }
    void Hide() override {
        m_hidden = true;
        if (m_face.m_barWindow == this) {
            m_face.EndOpenLine();
            m_face.m_barWindow = nullptr;
        }
    }

    int Percent(int position) const {
        if (m_upper <= m_lower) {
            return 0;
        }
        const long long clamped = std::clamp(position, m_lower, m_upper);
        return static_cast<int>((clamped - m_lower) * 100 / (m_upper - m_lower));
    }

    TerminalFace& m_face;
    WindowSpec m_windowSpec;
    Target m_target;
    bool m_hidden = false;
    int m_lower = 0;
    int m_upper = 100;
    std::uint64_t m_startMs = 0;
    int m_lastPercent = 0;
    int m_lastPosition = 0;
};

TerminalFace::TerminalFace(int input, int output)
    : m_in(input),
      m_out(output),
      m_inIsTerminal(isatty(input) == 1),
      m_redrawInPlace(isatty(output) == 1 && !DumbTerminal()),
      m_uiThread(std::this_thread::get_id()) {
    try {
        OpenPipe(m_wake);
        OpenPipe(m_signals);
    } catch (...) {
        ClosePipe(m_wake);
        ClosePipe(m_signals);
        throw;
    }
    static const bool restoreAtExit = [] { return std::atexit(RestoreAtExit) == 0; }();
    static_cast<void>(restoreAtExit);

    g_signalPipe.store(m_signals[1]);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
        sigaction(kHandledSignals[i], &action, &g_previousActions[i]);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &g_previousPipeAction);
}

TerminalFace::~TerminalFace() {
    RestoreTerminal();
    EndOpenLine();
    for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
        sigaction(kHandledSignals[i], &g_previousActions[i], nullptr);
    }
    sigaction(SIGPIPE, &g_previousPipeAction, nullptr);
    g_signalPipe.store(-1);
    ClosePipe(m_wake);
    ClosePipe(m_signals);
}

std::unique_ptr<FaceWindow> TerminalFace::ShowModeless(const WindowSpec& windowSpec,
                                                       DialogCommands& commands) {
    return std::make_unique<Window>(*this, windowSpec, commands);
}

void TerminalFace::ShowModal(const WindowSpec& windowSpec, DialogCommands& commands) {
    Target target;
    target.windowSpec = &windowSpec;
    target.commands = &commands;
    Target* const outer = std::exchange(m_modal, &target);
    try {
        // Ready for keys before the prompt shows: whatever is typed once it shows is its answer.
        RawMode raw(*this);
        DropTypeAhead();
        PrintWindow(windowSpec, windowSpec.text);
        while (!target.ended) {
            if (m_pending.empty()) {
                WaitOnce();
                continue;
            }
            const Input input = m_pending.front();
            m_pending.pop_front();
            if (input == Input::Ok) {
                target.ended = true;
            } else {
                CancelIn(target, input);
            }
        }
    } catch (...) {
        m_modal = outer;
        throw;
    }
    m_modal = outer;
}

void TerminalFace::EndModal() {
    if (m_modal != nullptr) {
        m_modal->ended = true;
    }
}

void TerminalFace::PumpUntil(const std::function<bool()>& done) {
    RawMode raw(*this);
    for (;;) {
        RunTasks();
        if (done()) {
            return;
        }
        const std::optional<Input> input = TakeForWindow();
        if (!input) {
            WaitOnce();
            continue;
        }
        if (Target* target = CurrentTarget()) {
            CancelIn(*target, *input);
        }
    }
}

std::optional<TerminalFace::Input> TerminalFace::TakeForWindow() {
    // Ctrl-C comes out of band; the rest in the order typed.
    if (const auto it = std::find(m_pending.begin(), m_pending.end(), Input::Interrupt);
        it != m_pending.end()) {
        m_pending.erase(it);
        return Input::Interrupt;
    }
    if (m_inIsTerminal) {
        // Enter means nothing in a window without OK.
        while (!m_pending.empty() && m_pending.front() == Input::Ok) {
            m_pending.pop_front();
        }
    }
    // Lines given ahead are answers to the prompts to come: they wait, and what follows them too.
    if (m_pending.empty() || m_pending.front() == Input::Ok) {
        return std::nullopt;
    }
    const Input input = m_pending.front();
    m_pending.pop_front();
    return input;
}

void TerminalFace::Wake() {
    const char byte = 'w';
    // A full pipe is already a wake.
    [[maybe_unused]] const ssize_t written = write(m_wake[1], &byte, 1);
}

void TerminalFace::ShowErrorBox(const std::wstring& text, const std::wstring& caption) {
    RawMode raw(*this);
    DropTypeAhead();
    StartBlock();
    Write("[" + Utf8(caption) + "] Error: " + Utf8(text) + "\n[Enter] OK\n");
    for (;;) {
        if (m_pending.empty()) {
            WaitOnce();
            continue;
        }
        const Input input = m_pending.front();
        m_pending.pop_front();
        // Ctrl-C closes the box and goes on to the window after it, where it is the Cancel
        // command.
        if (input == Input::Interrupt) {
            m_pending.push_front(input);
        }
        return;
    }
}

void TerminalFace::WaitOnce() {
    RunTasks();
    pollfd fds[3] = {{m_wake[0], POLLIN, 0}, {m_signals[0], POLLIN, 0}, {m_in, POLLIN, 0}};
    const nfds_t count = m_inputEnded ? 2 : 3;
    if (poll(fds, count, -1) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        // The handler's byte is in the pipe for the next round.
        return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        Drain(m_wake[0]);
    }
    if (count == 3 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        std::vector<Input> inputs;
        ReadInput(inputs);
        m_pending.insert(m_pending.end(), inputs.begin(), inputs.end());
    }
    if ((fds[1].revents & POLLIN) != 0) {
        unsigned char signals[32];
        ssize_t n = 0;
        while ((n = read(m_signals[0], signals, sizeof signals)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (signals[i] == SIGINT) {
                    m_pending.push_back(Input::Interrupt);
                }
            }
        }
    }
    RunTasks();
}

void TerminalFace::ReadInput(std::vector<Input>& inputs) {
    char buffer[256];
    const ssize_t n = read(m_in, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        // The end of the input, or a terminal that has gone: nothing more will come.
        if (!m_inIsTerminal && !m_line.empty()) {
            ParseKeys("\n", inputs);
        }
        m_inputEnded = true;
        inputs.push_back(Input::End);
        return;
    }
    ParseKeys(std::string_view(buffer, static_cast<std::size_t>(n)), inputs);
}

void TerminalFace::ParseKeys(std::string_view bytes, std::vector<Input>& inputs) {
    if (!m_inIsTerminal) {
        constexpr std::size_t kLongestLine = 1024;
        for (const char c : bytes) {
            if (c != '\n') {
                if (m_line.size() < kLongestLine) {
                    m_line += c;
                }
                continue;
            }
            const std::string_view line = Trimmed(m_line);
            if (line.empty()) {
                inputs.push_back(Input::Ok);
            } else if (line == "q" || line == "Q" || line == "\x1b") {
                inputs.push_back(Input::Cancel);
            }
            m_line.clear();
        }
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            inputs.push_back(Input::Ok);
        } else if (c == 'q' || c == 'Q') {
            inputs.push_back(Input::Cancel);
        } else if (c == '\x03') {
            inputs.push_back(Input::Interrupt);
        } else if (c == '\x1b') {
            if (i + 1 == bytes.size()) {
                inputs.push_back(Input::Cancel);
                continue;
            }
            // A key that sends a sequence (an arrow, a function key, Alt with a key) is not
            // Escape: skip it whole.
            const char next = bytes[++i];
            if (next == '[' || next == 'O') {
                while (i + 1 < bytes.size()) {
                    const auto b = static_cast<unsigned char>(bytes[++i]);
                    if (b >= 0x40 && b <= 0x7E) {
                        break;
                    }
                }
            }
        }
    }
}

void TerminalFace::DropTypeAhead() {
    // On a terminal only: lines given to the program ahead are its answers.
    if (!m_inIsTerminal) {
        return;
    }
    tcflush(m_in, TCIFLUSH);
    std::erase_if(m_pending,
                  [](Input input) { return input == Input::Ok || input == Input::Cancel; });
}

void TerminalFace::RunTasks() {
    std::deque<Task*> tasks;
    {
        std::lock_guard lock(m_tasksMutex);
        tasks.swap(m_tasks);
    }
    if (tasks.empty()) {
        return;
    }
    for (Task* task : tasks) {
        try {
            task->run();
        } catch (...) {
            ReportException();
        }
        std::lock_guard lock(m_tasksMutex);
        task->done = true;
    }
    m_taskDone.notify_all();
}

void TerminalFace::RunOnUiThread(std::function<void()> task) {
    Task posted{std::move(task)};
    {
        std::lock_guard lock(m_tasksMutex);
        m_tasks.push_back(&posted);
    }
    Wake();
    std::unique_lock lock(m_tasksMutex);
    m_taskDone.wait(lock, [&posted] { return posted.done; });
}

TerminalFace::Target* TerminalFace::CurrentTarget() {
    if (m_modal != nullptr) {
        return m_modal;
    }
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
        if (!(*it)->m_hidden) {
            return &(*it)->m_target;
        }
    }
    return nullptr;
}

void TerminalFace::CancelIn(Target& target, Input input) {
    if (!target.windowSpec->closeEnabled) {
        if (input != Input::End) {
            SayCannotInterrupt();
        }
        return;
    }
    // Cancel ends the process: the terminal is put back first.
    RestoreTerminal();
    EndOpenLine();
    target.commands->OnCancelCommand();
}

void TerminalFace::Write(std::string_view text) {
    m_wroteAnything = true;
    while (!text.empty()) {
        const ssize_t n = write(m_out, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Nobody reads the output any more; the program goes on without it.
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void TerminalFace::StartBlock() {
    EndOpenLine();
    if (m_wroteAnything) {
        Write("\n");
    }
}

void TerminalFace::EndOpenLine() {
    if (m_lineOpen) {
        m_lineOpen = false;
        g_openLineFd.store(-1);
        Write("\n");
    }
}

void TerminalFace::PrintWindow(const WindowSpec& windowSpec, const std::wstring& text) {
    StartBlock();
    std::string lines = Utf8(text) + "\n";
    if (const std::string keys = KeysLine(windowSpec); !keys.empty()) {
        lines += keys + "\n";
    }
    Write(lines);
}

void TerminalFace::DrawProgress(Window& window, int position, bool force) {
    if (window.m_hidden || !window.m_windowSpec.progressVisible) {
        return;
    }
    const int percent = window.Percent(position);
    if (!force && percent == window.m_lastPercent) {
        return;
    }
    window.m_lastPercent = percent;
    window.m_lastPosition = position;
    // Plain lines show changes only; a terminal shows the bar from the start.
    if (force && !m_redrawInPlace) {
        return;
    }
    const std::uint64_t elapsedMs = platform::CurrentClock().MonotonicMs() - window.m_startMs;
    std::optional<std::uint64_t> remainingMs;
    if (m_timeline) {
        remainingMs = RemainingMs(*m_timeline, percent);
    }
    if (!m_redrawInPlace) {
        Write(ProgressText(percent, elapsedMs, remainingMs, 0) + "\n");
        return;
    }
    if (m_barWindow != &window) {
        EndOpenLine();
    }
    Write(std::string(kClearLine) + ProgressText(percent, elapsedMs, remainingMs, BarWidth(m_out)));
    m_lineOpen = true;
    m_barWindow = &window;
    g_openLineFd.store(m_out);
}

void TerminalFace::SayCannotInterrupt() {
    if (m_toldCannotInterrupt) {
        return;
    }
    m_toldCannotInterrupt = true;
    if (m_lineOpen && m_barWindow != nullptr) {
        Write(std::string(kClearLine) + std::string(kCannotInterrupt) + "\n");
        m_lineOpen = false;
        g_openLineFd.store(-1);
        DrawProgress(*m_barWindow, m_barWindow->m_lastPosition, true);
        return;
    }
    EndOpenLine();
    Write(std::string(kCannotInterrupt) + "\n");
}

}  // namespace zav::app::terminal
