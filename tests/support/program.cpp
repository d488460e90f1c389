#include "support/program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <csignal>

namespace kelvor::testing {

Program::Program() : environment_(QProcessEnvironment::systemEnvironment()) {
    environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment_.insert(QStringLiteral("HOME"), home());
    environment_.insert(QStringLiteral("XDG_DATA_HOME"), home() + QStringLiteral("/data"));
    environment_.insert(QStringLiteral("XDG_CONFIG_HOME"), home() + QStringLiteral("/config"));
    environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), home() + QStringLiteral("/run"));
    environment_.insert(QStringLiteral("PATH"),
                        home() + QStringLiteral("/bin")); // only the AddStart beside the binary
    // No bus unless a test brings its own (PrivateBus): a copy under test must never
    // reach the machine's buses, where a real Kelvor may be running.
    const QString no_bus = QStringLiteral("unix:path=") + home() + QStringLiteral("/run/no-bus");
    environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), no_bus);
    environment_.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), no_bus);
    QDir().mkpath(home() + QStringLiteral("/run"));
    QFile::setPermissions(home() + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Program::~Program() {
    for (auto& copy : copies_) {
        if (copy->state() != QProcess::NotRunning) {
            copy->kill();
            copy->waitForFinished(5000);
        }
    }
}

QString Program::binary() {
    return QString::fromLocal8Bit(qgetenv("KELVOR_BINARY"));
}

bool Program::speed_clock_up(int factor, qint64 offset) {
    if (!preload_faketime())
        return false;
    environment_.insert(
        QStringLiteral("FAKETIME"),
        QStringLiteral("%1%2 x%3").arg(offset < 0 ? "-" : "+").arg(qAbs(offset)).arg(factor));
    clock_factor_ = factor;
    return true;
}

bool Program::fake_wall_clock() {
    if (!preload_faketime())
        return false;
    const QString file = home() + QStringLiteral("/faketime");
    environment_.insert(QStringLiteral("FAKETIME_TIMESTAMP_FILE"), file);
    environment_.insert(QStringLiteral("FAKETIME_NO_CACHE"), QStringLiteral("1"));
    environment_.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    set_wall_clock(QStringLiteral("+0"));
    return true;
}

bool Program::freeze_wall_clock(const QDateTime& moment) {
    if (!preload_faketime())
        return false;
    environment_.insert(QStringLiteral("FAKETIME"),
                        moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    environment_.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    return true;
}

void Program::set_wall_clock(const QString& offset) {
    QFile file(home() + QStringLiteral("/faketime"));
    if (file.open(QIODevice::WriteOnly))
        file.write(offset.toUtf8() + '\n');
}

bool Program::preload_faketime() {
    const QString library = QString::fromLocal8Bit(qgetenv("KELVOR_FAKETIME_LIB"));
    if (library.isEmpty() || !QFileInfo::exists(library))
        return false;
    environment_.insert(QStringLiteral("LD_PRELOAD"), library);
    // File times stay real: faked ones make fontconfig rebuild its caches at every start,
    // which stalls the program's event loop for half a second.
    environment_.insert(QStringLiteral("NO_FAKE_STAT"), QStringLiteral("1"));
    // A sanitized build wants its runtime first among the loaded libraries; libfaketime only
    // wraps the clock and sleep calls, which the sanitizers leave alone.
    const QString asan = environment_.value(QStringLiteral("ASAN_OPTIONS"));
    environment_.insert(QStringLiteral("ASAN_OPTIONS"),
                        asan + (asan.isEmpty() ? "" : ":") + "verify_asan_link_order=0");
    return true;
}

QProcess& Program::start(const QStringList& command_prefix, const QStringList& arguments) {
    auto copy = std::make_unique<QProcess>();
    copy->setProcessEnvironment(environment_);
    if (command_prefix.isEmpty()) {
        copy->start(binary_, arguments);
    } else {
        copy->start(command_prefix.front(),
                    command_prefix.mid(1) + QStringList{binary_} + arguments);
    }
    copy->waitForStarted(10000);
    copies_.push_back(std::move(copy));
    return *copies_.back();
}

Program::Finished Program::run(const QStringList& arguments, const QStringList& command_prefix) {
    QProcess& copy = start(command_prefix, arguments);
    Finished finished;
    if (copy.waitForFinished(20000) && copy.exitStatus() == QProcess::NormalExit)
        finished.status = copy.exitCode();
    finished.out = copy.readAllStandardOutput();
    finished.err = copy.readAllStandardError();
    return finished;
}

bool Program::wait_for(const std::function<bool(const StoreDump&)>& done, int timeout_ms) const {
    QElapsedTimer timer;
    timer.start();
    while (!done(dump())) {
        if (timer.elapsed() > timeout_ms)
            return false;
        QThread::msleep(5);
    }
    return true;
}

bool Program::wait_until_session(int session, int timeout_ms) const {
    return wait_for(
        [session](const StoreDump& d) { return d.number("nb_session") >= session && d.running(); },
        timeout_ms);
}

void send_signal(QProcess& process, int sig) {
    // A copy that has ended has no id: kill(0) would signal the whole test's process group.
    if (const pid_t pid = pid_t(process.processId()); pid > 0)
        ::kill(pid, sig);
}

StoreWriteLock::StoreWriteLock(const QString& store_path) {
    shell_.start(QStringLiteral("sqlite3"), {store_path});
    if (!shell_.waitForStarted())
        return;
    shell_.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n");
    QElapsedTimer waited;
    waited.start();
    while (!held_ && waited.elapsed() < 5000) {
        shell_.waitForReadyRead(100);
        held_ = shell_.readAllStandardOutput().contains("held");
    }
}

void StoreWriteLock::release() {
    if (shell_.state() == QProcess::NotRunning)
        return;
    shell_.write("ROLLBACK;\n.quit\n");
    shell_.closeWriteChannel();
    if (!shell_.waitForFinished(5000))
        shell_.kill();
    held_ = false;
}

} // namespace kelvor::testing
