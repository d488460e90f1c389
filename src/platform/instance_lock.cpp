#include "platform/instance_lock.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvor::platform {

InstanceLock::InstanceLock(QString lock_path) : path_(std::move(lock_path)) {}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

InstanceLock::Result InstanceLock::try_acquire() {
    if (fd_ >= 0)
        return Result::acquired;
    const QByteArray native = QFile::encodeName(path_);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = QStringLiteral("cannot create %1: %2")
                     .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return Result::failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::held_elsewhere;
        error_ = QStringLiteral("cannot lock %1: %2")
                     .arg(path_, QString::fromLocal8Bit(std::strerror(err)));
        return Result::failed;
    }
    fd_ = fd;
    return Result::acquired;
}

} // namespace kelvor::platform
