#pragma once

#include <QObject>
#include <functional>

class QEvent;
class QWidget;
class CBusyState;

// Held by a long operation for its whole run (see CBusyState::Begin). Ending the last scope of a
// window ends its busy state. Movable, not copyable.
class CBusyScope {
public:
    CBusyScope() = default;
    CBusyScope(CBusyScope&& other) noexcept;
    CBusyScope& operator=(CBusyScope&& other) noexcept;
    CBusyScope(const CBusyScope&) = delete;
    CBusyScope& operator=(const CBusyScope&) = delete;
    ~CBusyScope();

private:
    friend class CBusyState;
    explicit CBusyScope(CBusyState* state) : m_state(state) {}
    CBusyState* m_state = nullptr;
};

// One busy state of a window, for every long operation it runs on the user-interface thread.
//
// While a scope lives, the user's input to the window and everything inside it (mouse, wheel,
// keys, shortcuts, context menus, touch, drops, input methods) is held back, so nothing the user
// does can start another operation or change what the operation works on. The operation's own
// calls to the widgets (selecting tree items, filling lists, navigating a view) work as usual,
// and everything keeps painting. Other windows, such as the message boxes an operation shows,
// take input normally.
//
// Escape, and a close of the window asked for meanwhile (the window routes its done() through
// DeferClose), are not carried out at once: StopRequested() turns true, the operation ends at
// its next safe point, and the window closes when the last scope ends.
//
// Scopes nest: onBegin runs when the first one begins, onEnd when the last one ends (before a
// held close is carried out), so the window can put its controls into their rule states.
class CBusyState : public QObject {
public:
    // close carries out a held close with the result that was asked for.
    CBusyState(QWidget* window, std::function<void()> onBegin, std::function<void()> onEnd,
               std::function<void(int result)> close);
    ~CBusyState() override;

    [[nodiscard]] CBusyScope Begin();
    bool IsBusy() const { return m_depth > 0; }
    // True from a held close on until the busy state ends.
    bool StopRequested() const { return m_closeRequested; }

    // For the window's done(): while busy, holds the close (with its result) and returns true;
    // otherwise returns false and the window closes as usual.
    bool DeferClose(int result);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class CBusyScope;
    void End();
    bool InWindow(QObject* object) const;

    QWidget* m_window;
    std::function<void()> m_onBegin;
    std::function<void()> m_onEnd;
    std::function<void(int)> m_close;
    int m_depth = 0;
    bool m_closeRequested = false;
    int m_closeResult = 0;
};
