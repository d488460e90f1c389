#include "platform/process_starter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using kelvor::platform::DetachedProcessStarter;

namespace {

// A folder on PATH holding `probe`, which appends its arguments, one per line, to a log.
class ProbeOnPath {
public:
    ProbeOnPath() : old_path_(qgetenv("PATH")) {
        QFile script(dir_.path() + "/probe");
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$0.log\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(dir_.path()));
    }
    ~ProbeOnPath() { qputenv("PATH", old_path_); }
    QByteArray log() const {
        QFile f(dir_.path() + "/probe.log");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The log once it holds `expected`, or what it holds after a few seconds.
    QByteArray log_when(const QByteArray& expected) const {
        QElapsedTimer waited;
        waited.start();
        while (log() != expected && waited.elapsed() < 5000)
            QThread::msleep(20);
        return log();
    }

private:
    QTemporaryDir dir_;
    QByteArray old_path_;
};

} // namespace

// The start waits for the event loop (so the bar shows first), yet nothing asked for is lost:
// whether the loop turns or the starter goes first, every program runs once, in order.
TEST(DetachedProcessStarter, StartsWhenTheLoopTurnsOrTheStarterGoes) {
    const std::vector<
        std::pair<const char*, std::function<void(std::unique_ptr<DetachedProcessStarter>&)>>>
        ways = {
            {"event loop", [](auto&) { QCoreApplication::processEvents(); }},
            {"starter destroyed", [](auto& starter) { starter.reset(); }},
        };
    for (const auto& [name, release] : ways) {
        SCOPED_TRACE(name);
        ProbeOnPath probe;
        auto starter = std::make_unique<DetachedProcessStarter>();
        starter->start_detached("probe", {"Kelvor", "/opt/my apps/kelvor"});
        starter->start_detached("probe", {"second"});
        QThread::msleep(200);
        EXPECT_EQ(probe.log(), "") << "started before the caller went on";
        release(starter);
        EXPECT_EQ(probe.log_when("Kelvor\n/opt/my apps/kelvor\nsecond\n"),
                  "Kelvor\n/opt/my apps/kelvor\nsecond\n");
        starter.reset();
        QCoreApplication::processEvents();
        QThread::msleep(200);
        EXPECT_EQ(probe.log(), "Kelvor\n/opt/my apps/kelvor\nsecond\n") << "started twice";
    }
}
