#include "ui/BusyState.h"

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

#include <utility>

namespace {

// What the user does to a window, as opposed to what the program does to it (paint, resize,
// timers, show and hide, the operation's own calls).
bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    // A button pressed before the busy state began would otherwise drag the selection along.
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
        return true;
    default:
        return false;
    }
}

} // namespace

CBusyScope::CBusyScope(CBusyScope&& other) noexcept
    : m_state(std::exchange(other.m_state, nullptr)) {}

CBusyScope& CBusyScope::operator=(CBusyScope&& other) noexcept {
    if (this != &other) {
        if (m_state)
            m_state->End();
        m_state = std::exchange(other.m_state, nullptr);
    }
    return *this;
}

CBusyScope::~CBusyScope() {
    if (m_state)
        m_state->End();
}

CBusyState::CBusyState(QWidget* window, std::function<void()> onBegin, std::function<void()> onEnd,
                       std::function<void(int)> close)
    : m_window(window), m_onBegin(std::move(onBegin)), m_onEnd(std::move(onEnd)),
      m_close(std::move(close)) {}

CBusyState::~CBusyState() {
    if (m_depth > 0 && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

CBusyScope CBusyState::Begin() {
    if (m_depth++ == 0) {
        // Input reaches a widget through the application before the widget's own filters, so
        // one filter there holds back everything aimed at the window.
        if (QCoreApplication::instance())
            QCoreApplication::instance()->installEventFilter(this);
        m_window->setCursor(Qt::BusyCursor);
        if (m_onBegin)
            m_onBegin();
    }
    return CBusyScope(this);
}

void CBusyState::End() {
    if (m_depth == 0 || --m_depth > 0)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    m_window->unsetCursor();
    if (m_onEnd)
        m_onEnd();
    if (m_closeRequested) {
        m_closeRequested = false;
        if (m_close)
            m_close(m_closeResult);
    }
}

bool CBusyState::DeferClose(int result) {
    if (m_depth == 0)
        return false;
    if (!m_closeRequested) {
        m_closeRequested = true;
        m_closeResult = result;
    }
    return true;
}

bool CBusyState::InWindow(QObject* object) const {
    // Shortcuts and actions are not widgets; they belong to the widget they hang from.
    while (object && !object->isWidgetType())
        object = object->parent();
    auto* widget = static_cast<QWidget*>(object);
    return widget && (widget == m_window || m_window->isAncestorOf(widget));
}

bool CBusyState::eventFilter(QObject* watched, QEvent* event) {
    if (m_depth == 0 || !IsUserInput(event->type()) || !InWindow(watched))
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed for the focus widget, so no shortcut fires; the key press then comes here.
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        DeferClose(0);
    return true;
}
