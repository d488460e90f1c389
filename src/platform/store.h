#pragma once

#include "platform/day_ledger.h"
#include "platform/session_history.h"
#include "platform/settings_store.h"

namespace kelvor::platform {

// What a session is booked into: the settings, the session history and the day ledger of one
// store, whose writes share its transactions. Another table of the store comes as an
// interface of its own beside these, and joins them here.
class Store : public SettingsStore, public SessionHistory, public DayLedger {};

} // namespace kelvor::platform
