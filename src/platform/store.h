#pragma once

#include "platform/session_history.h"
#include "platform/settings_store.h"

namespace kelvor::platform {

// What a session is booked into: the settings and the session history of one store, whose
// writes share its transactions. Another table of the store comes as an interface of its own
// beside these two, and joins them here.
class Store : public SettingsStore, public SessionHistory {};

} // namespace kelvor::platform
