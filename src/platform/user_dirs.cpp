#include "platform/user_dirs.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvor::platform {

namespace {

bool is_absolute(const QByteArray& path) {
    return path.startsWith('/');
}

QByteArray base_directory(const char* variable, const char* under_home) {
    const QByteArray configured = qgetenv(variable);
    if (is_absolute(configured))
        return configured;
    const QByteArray home = home_directory();
    return home.isEmpty() ? QByteArray() : home + under_home;
}

bool is_folder(const QByteArray& path) {
    struct ::stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QByteArray home_directory() {
    const QByteArray home = qgetenv("HOME");
    if (is_absolute(home))
        return home;
    const struct ::passwd* account = ::getpwuid(::getuid());
    if (account != nullptr && account->pw_dir != nullptr && is_absolute(account->pw_dir))
        return account->pw_dir;
    return {};
}

QByteArray data_home() {
    return base_directory("XDG_DATA_HOME", "/.local/share");
}

QByteArray config_home() {
    return base_directory("XDG_CONFIG_HOME", "/.config");
}

bool make_private_folders(const QByteArray& path) {
    if (is_folder(path))
        return true;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0 && !make_private_folders(path.left(slash)))
        return false;
    if (::mkdir(path.constData(), 0700) == 0)
        return true;
    // Made meanwhile by someone else is as good, if it is a folder.
    return errno == EEXIST && is_folder(path);
}

QString shown_path(const QByteArray& path) {
    return QFile::decodeName(path);
}

QString error_text(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sync_folder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace kelvor::platform
