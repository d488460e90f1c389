#pragma once

#include <QByteArray>
#include <QString>

namespace kelvor::platform {

// One running copy per store: an exclusive lock on a file beside the store. The kernel drops
// the lock when the process dies, however it dies, so a killed copy never blocks the next.
class InstanceLock {
public:
    enum class Result { acquired, held_elsewhere, failed };

    // The lock file must be a regular file of the user's own, never reached through a link.
    explicit InstanceLock(QByteArray lock_path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Result try_acquire();
    // Whether a running copy holds the lock at `lock_path`. Found without taking the lock or
    // creating anything, so that a copy starting at the same moment is never turned away.
    static bool is_held(const QByteArray& lock_path);
    // Why the last try_acquire failed, for the user.
    const QString& error() const { return error_; }

private:
    QByteArray path_;
    QString error_;
    int fd_ = -1;
};

} // namespace kelvor::platform
