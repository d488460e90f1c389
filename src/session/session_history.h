#pragma once

#include "platform/session_history.h"

#include <QString>
#include <functional>

namespace kelvor::platform {
class Store;
}

namespace kelvor::session {

// Visits the sessions of the store's history, in the order they started, as a user should read
// them. The session still marked as running has the seconds it last saved; it runs when
// `copy_running` says a copy of Kelvor holds the store, and otherwise its program ended
// abruptly: it is then the crash that the next start books, with those seconds. False for a
// store of the first release, which kept no history.
bool for_each_history_session(platform::Store& store, bool copy_running,
                              const std::function<void(const platform::HistorySession&)>& visit);

// "properly", "crashed", "running".
QString ending_text(platform::Ending ending);

} // namespace kelvor::session
