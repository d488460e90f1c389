#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace kelvor::platform {

// Starts a helper program and forgets it.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // `program` is a bare name, looked up in the running executable's folder, then on PATH.
    // Never waits, never reports: every failure is ignored.
    virtual void start_detached(const QString& program, const QStringList& arguments) = 0;
};

// Starts the program once the event loop runs, or when the starter is destroyed if that
// comes first: starting a process forks this one and waits until the new program runs, and
// at start-up that would keep the bar from appearing for several milliseconds.
class DetachedProcessStarter final : public ProcessStarter {
public:
    DetachedProcessStarter() = default;
    ~DetachedProcessStarter() override;
    DetachedProcessStarter(const DetachedProcessStarter&) = delete;
    DetachedProcessStarter& operator=(const DetachedProcessStarter&) = delete;

    void start_detached(const QString& program, const QStringList& arguments) override;

private:
    struct Start {
        QString program;
        QStringList arguments;
    };
    void start_pending();

    std::vector<Start> pending_;
    QObject queue_context_; // a queued start dies with the starter
};

// The full path of the running executable, with the platform's separators.
QString executable_path();

} // namespace kelvor::platform
