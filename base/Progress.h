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
};
