#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/UpdatePhase.h"

// What the update flow needs of a user interface: the dialog's window in each phase, a way to keep
// the interface alive while a worker runs, error boxes, and progress moved from the worker. The
// flow and its phases know nothing else of it, so that a windowed face and a terminal face can
// share them.
namespace zav::app {

// What the dialog's window shows in one phase.
struct WindowSpec {
    UpdatePhase phase = PhaseWaiting;
    std::wstring text;
    bool okVisible = true;
    bool cancelVisible = true;
    bool progressVisible = true;
    // Whether the window's close control and Escape give the Cancel command. While the firmware
    // goes out nothing may cancel it.
    bool closeEnabled = true;
};

// The dialog's own handler, called by the face on the user interface thread.
class DialogCommands {
public:
    // Cancel: the Cancel button, the close control or Escape while closeEnabled.
    virtual void OnCancelCommand() = 0;

protected:
    ~DialogCommands() = default;
};

// A modeless window; destroying the object takes the window down.
class FaceWindow {
public:
    virtual ~FaceWindow() = default;

    virtual void SetText(const std::wstring& text) = 0;
    virtual void SetProgressRange(int lower, int upper) = 0;
    // From a worker thread: returns once the user interface thread has moved the bar. The user
    // interface thread must be processing events (see Face::PumpUntil) until the worker has ended.
    virtual void SetProgressFromWorker(int position) = 0;
    // Takes the window off the screen at once; the object stays.
    virtual void Hide() = 0;
};

class Face {
public:
    virtual ~Face() = default;

    // Shows a window and returns; OK does nothing in it, Cancel calls the commands.
    virtual std::unique_ptr<FaceWindow> ShowModeless(const WindowSpec& windowSpec,
                                                     DialogCommands& commands) = 0;
    // Shows a window and returns when the user has pressed OK; Cancel calls the commands.
    virtual void ShowModal(const WindowSpec& windowSpec, DialogCommands& commands) = 0;
    // Takes down the modal window shown, if any (Cancel ends it first).
    virtual void EndModal() = 0;

    // Processes events as they come, without spinning, until done() holds. done() is tested on
    // this thread at the start and after every Wake.
    virtual void PumpUntil(const std::function<bool()>& done) = 0;
    // Any thread: makes the pump loops test their condition again. A wake that comes before the
    // loop runs is not lost, since the loop tests first.
    virtual void Wake() = 0;

    // An error box with the error icon and no owner window; returns when the user has closed it.
    virtual void ShowErrorBox(const std::wstring& text, const std::wstring& caption) = 0;
};

}  // namespace zav::app
