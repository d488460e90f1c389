#include "platform/instance_lock.h"

#include "platform/store_location.h"
#include "platform/user_dirs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

const QString lock_name = QStringLiteral("the lock");

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
        error_ = QStringLiteral("cannot create %1: %2")
                     .arg(shown_path(path_), QString::fromLocal8Bit(std::strerror(errno)));
        return Result::failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::held_elsewhere;
        error_ = QStringLiteral("cannot lock %1: %2")
                     .arg(shown_path(path_), QString::fromLocal8Bit(std::strerror(err)));
        return Result::failed;
    }
    fd_ = fd;
    return Result::acquired;
}

} // namespace kelvor::platform
