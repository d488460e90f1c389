#include "platform/instance_lock.h"

#include "platform/store_location.h"
#include "platform/user_dirs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

const QString lock_name = QStringLiteral("the lock");

// The whole file, as an open-file-description lock: unlike flock, another process can ask
// whether it is held without taking it.
struct flock whole_file(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    return range;
}

} // namespace

InstanceLock::InstanceLock(QByteArray lock_path) : path_(std::move(lock_path)) {}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

InstanceLock::Result InstanceLock::try_acquire() {
    if (fd_ >= 0)
        return Result::acquired;
    // Looked at before it is opened, since opening a device node can itself do something; the
    // folder is the user's alone, so only a link could change it in between, and O_NOFOLLOW
    // refuses that.
    if (error_ = own_file_problem(path_, lock_name); !error_.isEmpty())
        return Result::failed;
    const int fd = ::open(path_.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = QStringLiteral("cannot create the lock %1: %2. Check that the folder is yours "
                                "and writable, then start Kelvor again.")
                     .arg(shown_path(path_), error_text(errno));
        return Result::failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::held_elsewhere;
        error_ = QStringLiteral("cannot lock %1: %2. The folder's file system may not support "
                                "locks; set XDG_DATA_HOME to a folder on a local disk.")
                     .arg(shown_path(path_), error_text(err));
        return Result::failed;
    }
    // The flock alone decides who runs (the first release takes only that); this second lock
    // is for readers to see. Where the file system has no such locks, they see no copy.
    struct flock visible = whole_file(F_WRLCK);
    ::fcntl(fd, F_OFD_SETLK, &visible);
    fd_ = fd;
    return Result::acquired;
}

bool InstanceLock::is_held(const QByteArray& lock_path) {
    // Opening a FIFO or a device could block or act; only the user's own regular file is read.
    if (!own_file_problem(lock_path, lock_name).isEmpty())
        return false;
    const int fd = ::open(lock_path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct flock probe = whole_file(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

} // namespace kelvor::platform
