#include "session/running_session.h"

#include "platform/settings_store.h"
#include "session/numbers.h"
#include "session/store_names.h"

#include <algorithm>

namespace kelvor::session {

bool session_unbooked(platform::SettingsStore& store) {
    // Only the exact text counts: a hand-edited "yes" books no crash.
    return store.read(names::stat, names::debuted, names::no) == names::yes;
}

qint32 saved_session_seconds(platform::SettingsStore& store) {
    // An older release measured on the wall clock and could save a negative length when the
    // clock was set back; no length is below 0.
    return std::max(0, read_int32(store, names::stat, names::recupered_time, 30));
}

} // namespace kelvor::session
