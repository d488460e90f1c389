#include "session/session_history.h"

#include "platform/settings_store.h"
#include "session/running_session.h"

#include <optional>

namespace kelvor::session {

bool for_each_history_session(platform::SettingsStore& store, bool copy_running,
                              const std::function<void(const HistorySession&)>& visit) {
    std::optional<qint32> saved;
    return store.for_each_session([&](const platform::StoredSession& row) {
        HistorySession session{row.started, row.seconds, Ending::properly};
        using Stored = platform::StoredSession::Ending;
        if (row.ending == Stored::crashed) {
            session.ending = Ending::crashed;
        } else if (row.ending == Stored::running) {
            if (!saved)
                saved = saved_session_seconds(store);
            session.seconds = *saved;
            session.ending = copy_running ? Ending::running : Ending::crashed;
        }
        visit(session);
    });
}

QString ending_text(Ending ending) {
    switch (ending) {
    case Ending::properly:
        return QStringLiteral("properly");
    case Ending::crashed:
        return QStringLiteral("crashed");
    case Ending::running:
        break;
    }
    return QStringLiteral("running");
}

} // namespace kelvor::session
