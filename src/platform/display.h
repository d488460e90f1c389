#pragma once

#include <functional>

class QObject;
class QWidget;

namespace kelvor::platform {

// Qt ends the program with abort() and advice to reinstall it when its platform plugin cannot
// reach the display. While a DisplayCheck lives (around the making of the application object),
// that end becomes one line on stderr naming the display, and exit status 1. Qt's other
// messages of that moment are held back and passed on by release().
class DisplayCheck {
public:
    DisplayCheck();
    ~DisplayCheck() { release(); }
    DisplayCheck(const DisplayCheck&) = delete;
    DisplayCheck& operator=(const DisplayCheck&) = delete;

    void release();
};

// Sends what the program has asked of the display so far (a window to map, say) now, rather
// than when the event loop next runs. Does nothing on a platform other than X11.
void flush_display();

// Whether the program places its windows itself. A Wayland compositor places every window; a
// client may only ask it to start a move under the pointer (QWindow::startSystemMove()), and
// learns no position.
bool can_place_windows();

// Asks the window manager to show a mapped window on every workspace, the current one
// included (EWMH: _NET_WM_DESKTOP 0xFFFFFFFF and _NET_WM_STATE_STICKY). One round trip to the
// X server; the window manager's answer is not waited for. Nothing happens off X11.
void show_on_every_workspace(const QWidget& window);

// Runs an action, once, before the process ends because its display connection broke. Qt then
// ends the process itself: its X11 back end through exit() (AtExit covers that), its Wayland
// back end through _exit() or a fatal message, each after a message that says so. So every
// message Qt sends while the watch lives is checked against the connection itself (xcb's error
// state; the compositor's end of the Wayland socket), never against its wording, and the
// action runs on the thread of `context` before the message goes on to the previous handler.
// A message sent from another thread waits for the action, unless the context's thread does
// not take it up within seconds (blocked inside Qt itself); the process then ends without it.
// One at a time.
class DisplayLossWatch {
public:
    DisplayLossWatch(QObject* context, std::function<void()> action);
    ~DisplayLossWatch();
    DisplayLossWatch(const DisplayLossWatch&) = delete;
    DisplayLossWatch& operator=(const DisplayLossWatch&) = delete;
};

} // namespace kelvor::platform
