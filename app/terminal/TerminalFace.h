#pragma once

#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/Face.h"
#include "app/terminal/ProgressLine.h"

namespace zav::app::terminal {

// The face of the program in a terminal: each phase's text on a line of its own with the keys of
// its buttons, error boxes as marked lines that wait for Enter, and the update's progress as a bar
// redrawn in place (plain lines, one per change, when the output is no terminal).
//
// Keys: Enter is OK; Escape or q is the Cancel command wherever the window lets it (closeEnabled),
// and so are Ctrl-C and the end of input. While the update runs none of them cancels anything:
// the first says once that the update cannot be interrupted. When the input is no terminal, keys
// come as lines: an empty line is Enter, "q" is Cancel.
//
// The terminal is in non-canonical mode without echo only while the face waits for keys, and is
// put back however the wait ends: a return, an exception, exit() (Cancel's way out), or a
// terminating signal (SIGTERM, SIGHUP, SIGQUIT: put back, then the signal's default action).
//
// Runs on the thread that made it, apart from Wake and progress from the update worker. One face
// at a time: it holds the process's SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCONT and SIGPIPE
// handling for its life (writes to a closed output fail quietly rather than end an update).
class TerminalFace final : public Face {
public:
    explicit TerminalFace(int input = STDIN_FILENO, int output = STDOUT_FILENO);
    ~TerminalFace() override;
    TerminalFace(const TerminalFace&) = delete;
    TerminalFace& operator=(const TerminalFace&) = delete;

    // The schedule of the image that the update will send, for the time left; without it the bar
    // shows the time elapsed only.
    void SetTimeline(std::optional<ProgressTimeline> timeline) { m_timeline = timeline; }

    std::unique_ptr<FaceWindow> ShowModeless(const WindowSpec& windowSpec,
                                             DialogCommands& commands) override;
    void ShowModal(const WindowSpec& windowSpec, DialogCommands& commands) override;
    void EndModal() override;
    void PumpUntil(const std::function<bool()>& done) override;
    void Wake() override;
    void ShowErrorBox(const std::wstring& text, const std::wstring& caption) override;

private:
    class Window;
    class RawMode;
    enum class Input { Ok, Cancel, Interrupt, End };
    // What the keys act on while the face waits.
    struct Target {
        const WindowSpec* windowSpec = nullptr;
        DialogCommands* commands = nullptr;
        bool ended = false;
    };
    struct Task {
        std::function<void()> run;
        bool done = false;
    };

    // One round of waiting: returns after the wake pipe, a signal or the input has been seen, with
    // the posted tasks run and what came in queued on m_pending, in the order it came.
    void WaitOnce();
    // Keys typed before a prompt was shown are not its answer.
    void DropTypeAhead();
    void ReadInput(std::vector<Input>& inputs);
    void ParseKeys(std::string_view bytes, std::vector<Input>& inputs);
    // The next input that acts on a modeless window, if any.
    std::optional<Input> TakeForWindow();
    void RunTasks();
    // From the worker: runs task on this face's thread and returns once it has run.
    void RunOnUiThread(std::function<void()> task);
    // What Escape, q, Ctrl-C and the end of input do in a window.
    void CancelIn(Target& target, Input input);
    Target* CurrentTarget();

    void Write(std::string_view text);
    void StartBlock();
    void EndOpenLine();
    void PrintWindow(const WindowSpec& windowSpec, const std::wstring& text);
    void DrawProgress(Window& window, int position, bool force);
    void SayCannotInterrupt();

    const int m_in;
    const int m_out;
    const bool m_inIsTerminal;
    // A terminal that can redraw the progress line; plain lines otherwise.
    const bool m_redrawInPlace;
    const std::thread::id m_uiThread;
    int m_wake[2] = {-1, -1};
    int m_signals[2] = {-1, -1};
    std::optional<ProgressTimeline> m_timeline;

    std::mutex m_tasksMutex;
    std::condition_variable m_taskDone;
    std::deque<Task*> m_tasks;

    // The face's thread only.
    std::vector<Window*> m_windows;
    Target* m_modal = nullptr;
    std::deque<Input> m_pending;
    bool m_inputEnded = false;
    std::string m_line;
    bool m_wroteAnything = false;
    bool m_lineOpen = false;
    bool m_toldCannotInterrupt = false;
    Window* m_barWindow = nullptr;
};

}  // namespace zav::app::terminal
