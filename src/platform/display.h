#pragma once

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

} // namespace kelvor::platform
