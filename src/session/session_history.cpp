#include "session/session_history.h"

#include "platform/settings_store.h"
#include "session/session_tracker.h"

namespace kelvor::session {

std::optional<std::vector<HistorySession>> read_session_history(platform::SettingsStore& store,
                                                                bool copy_running) {
    std::optional<std::vector<platform::StoredSession>> stored = store.sessions();
    if (!stored)
        return std::nullopt;
    std::vector<HistorySession> history;
    history.reserve(stored->size());
    std::optional<qint32> saved;
    for (platform::StoredSession& row : *stored) {
        HistorySession session{std::move(row.started), row.seconds, Ending::properly};
        using Stored = platform::StoredSession::Ending;
        if (row.ending == Stored::crashed) {
            session.ending = Ending::crashed;
        } else if (row.ending == Stored::running) {
            if (!saved)
                saved = saved_session_seconds(store);
            session.seconds = *saved;
            session.ending = copy_running ? Ending::running : Ending::crashed;
        }
        history.push_back(std::move(session));
    }
    return history;
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
