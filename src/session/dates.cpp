#include "session/dates.h"

#include "platform/clock.h"
#include "session/numbers.h"

#include <cstdlib>

namespace kelvor::session {

namespace {
const QString date_format = QStringLiteral("dd/MM/yyyy");
}

QString date_text(const QDate& day) {
    return day.toString(date_format);
}

std::optional<QDate> parse_date_text(const QString& text) {
    const QDate day = QDate::fromString(text, date_format);
    if (!day.isValid())
        return std::nullopt;
    return day;
}

QString month_key(const QDate& day) {
    return date_text(day).mid(3);
}

QString Get_mois_et_an(const platform::Clock& clock) {
    return month_key(clock.now().date());
}

std::optional<QDateTime> month_key_start(const QString& key) {
    const std::optional<QDate> first = parse_date_text(QStringLiteral("01/") + key);
    if (!first)
        return std::nullopt;
    return QDateTime(*first, QTime(0, 0));
}

QString iso_date_time(const QDateTime& moment) {
    // Written out rather than left to Qt, which writes local times without their offset and a
    // zero offset as "Z".
    const int offset_minutes = moment.offsetFromUtc() / 60;
    const int magnitude = std::abs(offset_minutes);
    return moment.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset_minutes < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
               .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

QString iso_date(const QDate& day) {
    return day.toString(Qt::ISODate);
}

QDate day_named(const QString& text, const QDate& today) {
    if (text == u"today")
        return today;
    if (text == u"yesterday")
        return today.addDays(-1);
    return QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
}

qint32 elapsed_seconds(const QDateTime& from, const QDateTime& to) {
    return qint32(clamp_to_int32_range(from.secsTo(to)));
}

} // namespace kelvor::session
