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
        return QStringLiteral("no home folder for the store: HOME is not an absolute path and "
                              "the account names no home directory. Set HOME to your home "
                              "folder, or XDG_DATA_HOME to a folder of yours, and start Kelvor "
                              "again.");
    const QString shown = shown_path(directory);
    // Another user who could write the folder could swap the store or hold its lock, so
    // nothing in such a folder is trusted.
    struct ::stat st {};
    if (::lstat(directory.constData(), &st) != 0)
        return errno == ENOENT
                   ? QString()
                   : QStringLiteral("cannot use the folder %1: %2. Check that it and the "
                                    "folders above it are yours, then start Kelvor again.")
                         .arg(shown, error_text(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("the folder %1 is a symbolic link, and Kelvor keeps your figures "
                              "only in a real folder of your own. Put the folder itself in its "
                              "place, or set XDG_DATA_HOME to another folder.")
            .arg(shown);
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder, so Kelvor cannot keep its store there. Move "
                              "that file away, or set XDG_DATA_HOME to another folder.")
            .arg(shown);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("the folder %1 belongs to another user, so Kelvor does not keep "
                              "your figures in it. Make it yours (sudo chown $USER %1), or set "
                              "XDG_DATA_HOME to a folder of yours.")
            .arg(shown);
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return QStringLiteral("the folder %1 can be written by other users, who could change "
                              "your figures. Make it yours alone (chmod 700 %1) and start Kelvor "
                              "again.")
            .arg(shown);
    return {};
}

QString prepare_store_directory(const QByteArray& directory) {
    if (directory.isEmpty())
        return store_directory_problem(directory);
    if (!make_private_folders(directory) && errno != EEXIST)
        return QStringLiteral("cannot create the folder %1: %2. Check that the folder above it "
                              "is yours and the disk has room, then start Kelvor again.")
            .arg(shown_path(directory), error_text(errno));
    if (const QString problem = store_directory_problem(directory); !problem.isEmpty())
        return problem;
    if (::access(directory.constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the folder %1 cannot be written, so no session can be recorded "
                              "in it. Make it writable for you (chmod u+w %1) and start Kelvor "
                              "again.")
            .arg(shown_path(directory));
    return {};
}

QString own_file_problem(const QByteArray& path, const QString& what) {
    struct ::stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT ? QString()
                               : QStringLiteral("cannot use %1 %2: %3. Check that the file and "
                                                "its folder are yours, then start Kelvor again.")
                                     .arg(what, shown_path(path), error_text(errno));
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("%1 %2 is a symbolic link, and Kelvor never writes through one. "
                              "Put the file itself in its place, or move the link away.")
            .arg(what, shown_path(path));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 %2 is not a regular file. Move it away and start Kelvor "
                              "again.")
            .arg(what, shown_path(path));
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 %2 belongs to another user, so Kelvor does not use it. Make "
                              "it yours (sudo chown $USER %2), or move it away.")
            .arg(what, shown_path(path));
    return {};
}

} // namespace kelvor::platform
