#include "platform/private_copy.h"

#include "platform/settings_store.h"
#include "platform/user_dirs.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

// 0, or the errno of the failure. Only a regular file is copied, never through a link.
int copy_file(const QByteArray& from, const QByteArray& to) {
    const int in = ::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (in < 0)
        return errno;
    struct ::stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return EINVAL;
    }
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    int error = out < 0 ? errno : 0;
    char buffer[65536];
    while (error == 0) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            error = errno == EINTR ? 0 : errno;
            continue;
        }
        for (ssize_t done = 0; done < got && error == 0;) {
            const ssize_t put = ::write(out, buffer + done, std::size_t(got - done));
            if (put < 0)
                error = errno == EINTR ? 0 : errno;
            else
                done += put;
        }
    }
    ::close(in);
    if (out >= 0)
        ::close(out);
    return error;
}

} // namespace

PrivateCopy::PrivateCopy(const QByteArray& path) {
    const QString shown = shown_path(path);
    if (!folder_.isValid())
        throw StoreError(
            QStringLiteral("cannot read the store %1 without its -shm file: no private temporary "
                           "folder to read a copy in (%2). Check TMPDIR and the free space, or "
                           "start the bar once, which makes the -shm again.")
                .arg(shown, folder_.errorString())
                .toStdString());
    path_ = QFile::encodeName(folder_.path()) + "/store.sqlite3";
    for (const char* suffix : {"", "-wal"}) {
        const int error = copy_file(path + suffix, path_ + suffix);
        if (error != 0 && !(error == ENOENT && *suffix != '\0')) // a -wal need not be there
            throw StoreError(QStringLiteral("cannot read the store %1 without its -shm file: %2. "
                                            "Check TMPDIR and the free space, or start the bar "
                                            "once, which makes the -shm again.")
                                 .arg(shown, error_text(error))
                                 .toStdString());
    }
}

void PrivateCopy::restore_length() {
    QFile file(QFile::decodeName(path_));
    if (!file.open(QIODevice::ReadWrite))
        return;
    const QByteArray header = file.read(100);
    if (header.size() < 100)
        return;
    const auto big_endian = [&](int at, int bytes) {
        quint64 value = 0;
        for (int i = 0; i < bytes; ++i)
            value = value << 8 | quint8(header[at + i]);
        return value;
    };
    // The page size at offset 16 (1 stands for 65536), the page count at offset 28.
    const quint64 page_size = big_endian(16, 2) == 1 ? 65536 : big_endian(16, 2);
    const quint64 said = page_size * big_endian(28, 4);
    if (said > quint64(file.size()))
        file.resize(qint64(said));
}

} // namespace kelvor::platform
