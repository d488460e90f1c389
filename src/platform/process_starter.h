#pragma once

#include <QString>
#include <QStringList>

namespace kelvor::platform {

// Starts a helper program and forgets it.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // `program` is a bare name, looked up in the running executable's folder, then on PATH.
    // Never waits, never reports: every failure is ignored.
    virtual void start_detached(const QString& program, const QStringList& arguments) = 0;
};

class DetachedProcessStarter final : public ProcessStarter {
public:
    void start_detached(const QString& program, const QStringList& arguments) override;
};

// The full path of the running executable, with the platform's separators.
QString executable_path();

} // namespace kelvor::platform
