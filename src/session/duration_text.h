#pragma once

#include <QString>

namespace kelvor::session {

// "1 year 1 day 1 h 1 min 1 sec": every unit from the largest non-zero one down to seconds.
// Years are 365 days; a negative input shows only its signed seconds remainder.
QString affiche_secondes(qint32 s);

} // namespace kelvor::session
