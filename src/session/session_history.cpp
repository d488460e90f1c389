#include "session/session_history.h"

#include "platform/store.h"
#include "session/running_session.h"

#include <optional>

namespace kelvor::session {

bool for_each_history_session(platform::Store& store, bool copy_running,
                              const std::function<void(const platform::HistorySession&)>& visit) {
    using platform::Ending;
    std::optional<qint32> saved;
    return store.for_each_session([&](const platform::HistorySession& row) {
        if (row.ending != Ending::running)
            return visit(row);
        if (!saved)
            saved = saved_session_seconds(store);
        platform::HistorySession shown = row;
        shown.seconds = *saved;
        shown.ending = copy_running ? Ending::running : Ending::crashed;
        visit(shown);
    });
}

QString ending_text(platform::Ending ending) {
    switch (ending) {
    case platform::Ending::properly:
        return QStringLiteral("properly");
    case platform::Ending::crashed:
        return QStringLiteral("crashed");
    case platform::Ending::running:
        break;
    }
    return QStringLiteral("running");
}

} // namespace kelvor::session
