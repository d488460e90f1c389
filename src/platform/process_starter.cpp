#include "platform/process_starter.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <utility>

namespace kelvor::platform {

namespace {

void start_now(const QString& program, const QStringList& arguments) {
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

} // namespace

DetachedProcessStarter::~DetachedProcessStarter() {
    start_pending();
}

void DetachedProcessStarter::start_detached(const QString& program, const QStringList& arguments) {
    pending_.push_back({program, arguments});
    if (pending_.size() == 1)
        QTimer::singleShot(0, &queue_context_, [this] { start_pending(); });
}

void DetachedProcessStarter::start_pending() {
    for (const Start& start : std::exchange(pending_, {}))
        start_now(start.program, start.arguments);
}

QString executable_path() {
    return QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
}

} // namespace kelvor::platform
