#pragma once

#include <string>

// What the window shows while a long core operation runs: the status line, the progress bar,
// and a chance to handle waiting events so the window stays alive. The main window implements
// it with its widgets; tests record the calls.
class IProgress {
public:
    virtual ~IProgress() = default;
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetProgressPos(int pos) = 0;
    // Keeps the window responsive; called once per step of a long loop.
    virtual void PumpMessages() = 0;
    // The status line; the text is one of the program's own messages (UTF-8).
    virtual void SetStatusText(const std::string& /*utf8*/) {}
    // True once the user has asked to close the window. A long loop asks after each
    // PumpMessages and then ends at once, as it would at its last step: what it has done so far
    // is made durable, the conversation is ended properly, and the window closes afterwards.
    virtual bool StopRequested() const { return false; }
};
