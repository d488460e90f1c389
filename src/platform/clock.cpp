#include "platform/clock.h"

namespace kelvor::platform {

QDateTime SystemClock::now() const {
    QDateTime moment = QDateTime::currentDateTime();
    const QTime t = moment.time();
    moment.setTime(QTime(t.hour(), t.minute(), t.second()));
    return moment;
}

} // namespace kelvor::platform
