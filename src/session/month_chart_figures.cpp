#include "session/month_chart_figures.h"

#include "platform/settings_store.h"
#include "session/dates.h"
#include "session/numbers.h"
#include "session/shown_text.h"

#include <QHash>
#include <algorithm>

namespace kelvor::session {

namespace {

constexpr qint64 thirty_days = 30 * 24 * 3600;

} // namespace

std::vector<MonthChartRow> read_month_chart_rows(platform::SettingsStore& store,
                                                 const QString& row_section,
                                                 const QString& overlay_section) {
    std::vector<MonthChartRow> rows;
    const std::optional<platform::SettingList> months = store.list(row_section);
    if (!months)
        return rows;
    // The overlay values in one listing rather than one read per month: a long history costs
    // two queries, not a thousand.
    QHash<QString, QString> overlays;
    if (const std::optional<platform::SettingList> listed = store.list(overlay_section)) {
        overlays.reserve(qsizetype(listed->size()));
        for (const auto& [key, text] : *listed)
            overlays.insert(key, text);
    }
    rows.reserve(months->size());
    for (const auto& [key, text] : *months) {
        rows.push_back({key, shown_text(text), int32_from_text(text, 0),
                        int32_from_text(overlays.value(key, QStringLiteral("0")), 0)});
    }
    return rows;
}

QString Short_month_label(const QString& key) {
    if (key.mid(2, 3) == QLatin1String("/20"))
        return shown_text(key.left(3) + key.right(2));
    return shown_text(key);
}

qint32 chart_maximum(const std::vector<MonthChartRow>& rows) {
    qint32 maximum = -1;
    for (const MonthChartRow& row : rows)
        maximum = std::max(maximum, row.value);
    return maximum;
}

QString month_crash_ratio_text(qint32 crashed, qint32 sessions, const QLocale& locale) {
    if (crashed <= 0 || sessions <= 0)
        return {};
    const qint64 tenths = 1000 * qint64(crashed) / sessions;
    return QStringLiteral("   (") + general_number_text(tenths, 1, locale.decimalPoint()) +
           QStringLiteral(" %)");
}

qint64 month_length_seconds(const QString& key, const QString& current_key, const QDateTime& now) {
    if (key != current_key)
        return thirty_days;
    const std::optional<QDateTime> first = month_key_start(key);
    return first ? first->secsTo(now) : thirty_days;
}

QString time_usage_ratio_text(qint32 seconds_used, qint64 month_seconds, const QLocale& locale) {
    if (seconds_used <= 0)
        return QStringLiteral("(0 %)");
    if (month_seconds <= 0)
        return QStringLiteral("(??? %)");
    const qint64 tenths = 1000 * qint64(seconds_used) / month_seconds;
    return QStringLiteral("(") + general_number_text(tenths, 1, locale.decimalPoint()) +
           QStringLiteral(" %)");
}

} // namespace kelvor::session
