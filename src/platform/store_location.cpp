#include "platform/store_location.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvor::platform {

StoreLocation StoreLocation::standard() {
    return in(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
              QStringLiteral("/kelvor"));
}

StoreLocation StoreLocation::in(const QString& directory) {
    return {directory, directory + QStringLiteral("/store.sqlite3"),
            directory + QStringLiteral("/store.lock")};
}

QString prepare_store_directory(const QString& directory) {
    const QFileInfo info(directory);
    if (!info.exists()) {
        const QFileInfo parent(info.absolutePath());
        if (!parent.exists() && !QDir().mkpath(parent.absoluteFilePath()))
            return QStringLiteral("cannot create the folder %1").arg(parent.absoluteFilePath());
        if (::mkdir(QFile::encodeName(directory).constData(), 0700) != 0 && errno != EEXIST)
            return QStringLiteral("cannot create the folder %1: %2")
                .arg(directory, QString::fromLocal8Bit(std::strerror(errno)));
    } else if (!info.isDir()) {
        return QStringLiteral("%1 is not a folder").arg(directory);
    }
    if (::access(QFile::encodeName(directory).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("the folder %1 cannot be written").arg(directory);
    return {};
}

} // namespace kelvor::platform
