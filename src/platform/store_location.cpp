#include "platform/store_location.h"

#include "platform/user_dirs.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvor::platform {

StoreLocation StoreLocation::standard() {
    const QByteArray base = data_home();
    return in(base.isEmpty() ? QByteArray() : base + "/kelvor");
}

StoreLocation StoreLocation::in(const QByteArray& directory) {
    if (directory.isEmpty())
        return {};
    return {directory, directory + "/store.sqlite3", directory + "/store.lock"};
}

QString store_directory_problem(const QByteArray& directory) {
    if (directory.isEmpty())
        return QStringLiteral("no home folder: HOME is not an absolute path and the account "
                              "names no home directory");
    const QString shown = shown_path(directory);
    // Another user who could write the folder could swap the store or hold its lock, so
    // nothing in such a folder is trusted.
    struct ::stat st {};
    if (::lstat(directory.constData(), &st) != 0)
        return errno == ENOENT
                   ? QString()
                   : QStringLiteral("cannot use the folder %1: %2").arg(shown, error_text(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("the folder %1 is a symbolic link; Kelvor keeps your figures only "
                              "in a folder of your own")
            .arg(shown);
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder").arg(shown);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("the folder %1 belongs to another user").arg(shown);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("the folder %1 can be written by other users; make it yours alone "
                              "with chmod 700")
            .arg(shown);
    return {};
}

QString prepare_store_directory(const QByteArray& directory) {
    if (directory.isEmpty())
        return store_directory_problem(directory);
    if (!make_private_folders(directory) && errno != EEXIST)
        return QStringLiteral("cannot create the folder %1: %2")
            .arg(shown_path(directory), error_text(errno));
    if (const QString problem = store_directory_problem(directory); !problem.isEmpty())
        return problem;
    if (::access(directory.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the folder %1 cannot be written").arg(shown_path(directory));
    return {};
}

QString own_file_problem(const QByteArray& path, const QString& what) {
    struct ::stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT ? QString()
                               : QStringLiteral("cannot use %1 %2: %3")
                                     .arg(what, shown_path(path), error_text(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 %2 is a symbolic link; Kelvor never writes through one")
            .arg(what, shown_path(path));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 %2 is not a regular file").arg(what, shown_path(path));
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 %2 belongs to another user").arg(what, shown_path(path));
    return {};
}

} // namespace kelvor::platform
