#pragma once

#include <QObject>
#include <array>

namespace kelvor::platform {

// Whether the screen is locked, as the desktop says on D-Bus. It counts as locked while any of
// these says so: logind's LockedHint of this login session (system bus), the freedesktop
// screen saver at /org/freedesktop/ScreenSaver or /ScreenSaver, GNOME's at
// /org/gnome/ScreenSaver (session bus). Each is asked once, then followed by its signals, also
// when it starts later; nothing polls. A bus, service or property that is missing says
// "unlocked", and nothing is reported.
class LockWatch : public QObject {
    Q_OBJECT
public:
    explicit LockWatch(QObject* parent = nullptr);

    // Connects to the buses and asks every source. The program calls it once its bar is on
    // the screen: connecting costs round trips that the bar's start should not wait for.
    void start();
    bool locked() const { return reported_locked_; }

    // What the sources are, for the messages that tell their state.
    enum Source { logind, freedesktop, freedesktop_short_path, gnome, source_count };
    // A source's state: its answer to the first question, or a signal.
    void tell(Source source, bool locked, bool answer);

signals:
    // First once every source has answered, or as soon as one says locked: how the session
    // started. Then at each change.
    void locked_changed(bool locked);

private:
    std::array<bool, source_count> locked_{};
    int unanswered_ = source_count;
    bool reported_ = false;
    bool reported_locked_ = false;
};

} // namespace kelvor::platform
