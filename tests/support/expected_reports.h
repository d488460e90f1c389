#pragma once

namespace kelvor::testing {

// The report of a new store's first session, started at 09:00 on 25/03/2000 and shown at
// 10:00, exactly as the box shows it.
inline constexpr const char* first_hour_report = R"(This session have: 1 h 0 min 0 sec
Last session duration: 30 sec

Shortest session: 11 day 13 h 46 min 39 sec around the ??/??/??
Longest session: 0 sec around the ??/??/??

Number of sessions: 1
Number of crashed sessions: 0
Crash ratio: ??? %

Number of sessions since 01/03/2000: 1
Time used since 01/03/2000: 1 h 0 min 0 sec

Total time used: 1 h 0 min 0 sec
First time used: 25/03/2000 (10 h 0 min 0 sec ago...)
Time-usage ratio around: 10 %

Do you want to see last months stats ?)";

} // namespace kelvor::testing
