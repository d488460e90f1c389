#include "session/numbers.h"

#include "platform/settings_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kelvor::session {

namespace {

constexpr double int32_min = std::numeric_limits<qint32>::min();
constexpr double int32_max = std::numeric_limits<qint32>::max();

bool is_number_character(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
}

} // namespace

QString whole_number_text(qint64 value) {
    return QString::number(value);
}

QString real_number_text(double value) {
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

std::optional<double> parse_number(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 64)
        return std::nullopt;
    QByteArray bytes = trimmed.toLatin1();
    for (const char c : bytes) {
        if (!is_number_character(c))
            return std::nullopt;
    }
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    const bool negative = *first == '-';
    if (*first == '+' || negative)
        ++first;
    if (first == last || *first == '-' || *first == '+')
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (end != last)
        return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a double: a negative exponent means "nearly zero".
        const qsizetype e = bytes.toLower().indexOf('e');
        const bool tiny = e >= 0 && e + 1 < bytes.size() && bytes.at(e + 1) == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

double clamp_to_int32_range(double value) {
    return std::clamp(value, int32_min, int32_max);
}

qint32 to_int32(double value) {
    if (std::isnan(value))
        return 0;
    return qint32(clamp_to_int32_range(std::nearbyint(clamp_to_int32_range(value))));
}

double read_number(platform::SettingsStore& store, const QString& section, const QString& key,
                   double fallback) {
    const std::optional<double> value = parse_number(store.read(section, key, QString()));
    return value ? clamp_to_int32_range(*value) : fallback;
}

qint32 read_int32(platform::SettingsStore& store, const QString& section, const QString& key,
                  qint32 fallback) {
    const std::optional<double> value = parse_number(store.read(section, key, QString()));
    return value ? to_int32(*value) : fallback;
}

float read_single(platform::SettingsStore& store, const QString& section, const QString& key,
                  float fallback) {
    return float(read_number(store, section, key, fallback));
}

void add_to_number(platform::SettingsStore& store, const QString& section, const QString& key,
                   double amount) {
    store.write(section, key, real_number_text(read_number(store, section, key, 0) + amount));
}

} // namespace kelvor::session
