#include "session/numbers.h"

#include "platform/settings_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace kelvor::session {

namespace {

bool is_number_character(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+';
}

// Whether a number beyond a double's range, unsigned, lies below 1 (too small for a double)
// rather than above every double: told by the power of ten of its first significant digit.
bool below_one(std::string_view number) {
    const std::size_t e = std::min(number.find_first_of("eE"), number.size());
    const std::string_view mantissa = number.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return true;
    const qint64 power = first < point ? qint64(point - first) - 1 : -qint64(first - point);
    std::string_view exponent = e < number.size() ? number.substr(e + 1) : "0";
    const bool negative = exponent.starts_with('-');
    if (negative || exponent.starts_with('+'))
        exponent.remove_prefix(1);
    // An exponent of more digits than any text is long says alone where the number lies.
    constexpr qint64 beyond = qint64(1) << 40;
    qint64 magnitude = beyond;
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), magnitude);
    magnitude = std::min(magnitude, beyond);
    return power + (negative ? -magnitude : magnitude) < 0;
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

QString general_number_text(qint64 scaled, int decimals, const QString& decimal_point) {
    quint64 magnitude = scaled < 0 ? 0 - quint64(scaled) : quint64(scaled);
    quint64 unit = 1;
    for (int i = 0; i < decimals; ++i)
        unit *= 10;
    QString text = QString::number(magnitude / unit);
    quint64 fraction = magnitude % unit;
    if (fraction != 0) {
        int digits = decimals;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        text += decimal_point + QString::number(fraction).rightJustified(digits, u'0');
    }
    return scaled < 0 ? QStringLiteral("-") + text : text;
}

std::optional<double> parse_number(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
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
        value = below_one({first, std::size_t(last - first)})
                    ? 0.0
                    : std::numeric_limits<double>::infinity();
    } else if (error != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

qint32 to_int32(double value) {
    if (std::isnan(value))
        return 0;
    return qint32(clamp_to_int32_range(std::nearbyint(clamp_to_int32_range(value))));
}

qint32 int32_from_text(const QString& text, qint32 fallback) {
    const std::optional<double> value = parse_number(text);
    return value ? to_int32(*value) : fallback;
}

double read_number(platform::SettingsStore& store, const QString& section, const QString& key,
                   double fallback) {
    const std::optional<double> value = parse_number(store.read(section, key, QString()));
    return value ? clamp_to_int32_range(*value) : fallback;
}

qint32 read_int32(platform::SettingsStore& store, const QString& section, const QString& key,
                  qint32 fallback) {
    return int32_from_text(store.read(section, key, QString()), fallback);
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
