#include "platform/process_starter.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

namespace kelvor::platform {

void DetachedProcessStarter::start_detached(const QString& program, const QStringList& arguments) {
    QString found =
        QStandardPaths::findExecutable(program, {QCoreApplication::applicationDirPath()});
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        return;
    // An argument list and no shell: a path with spaces or shell characters stays one word.
    QProcess process;
    process.setProgram(found);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.startDetached();
}

QString executable_path() {
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

} // namespace kelvor::platform
