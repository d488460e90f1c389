#pragma once

#include <QString>
#include <algorithm>
#include <limits>
#include <optional>

namespace kelvor::platform {
class SettingsStore;
}

namespace kelvor::session {

// Decimal digits with a leading "-" for negatives.
QString whole_number_text(qint64 value);
// The decimal text of a double; whole values (all that the program stores) have no point.
QString real_number_text(double value);
// `scaled` / 10^`decimals` in general number form: no grouping, no trailing zeros, and no
// decimal point for a whole value ("12", "33.3", "-0,005"). Exact, with no floating point on
// the way.
QString general_number_text(qint64 scaled, int decimals, const QString& decimal_point);

// A plain decimal number ("12", "-3", " 7 ", "1.5", "2e3"), independent of the user's locale,
// however many digits it has. Anything else, NaN included, is nullopt; a value too large for a
// double is +/-infinity, one too small 0.
std::optional<double> parse_number(const QString& text);

// Numbers kept in the store never leave the 32-bit range, whatever a hand-edited store holds;
// nor do lengths of time, whatever the clocks say. For doubles and 64-bit integers alike.
template <typename Number> Number clamp_to_int32_range(Number value) {
    return std::clamp<Number>(value, std::numeric_limits<qint32>::min(),
                              std::numeric_limits<qint32>::max());
}
// Rounded half to even, then clamped.
qint32 to_int32(double value);
// A stored text as a 32-bit number, as to_int32 makes it; `fallback` when it is not a number.
qint32 int32_from_text(const QString& text, qint32 fallback);

// Reads a stored number: a text that is not a number reads as `fallback`.
double read_number(platform::SettingsStore& store, const QString& section, const QString& key,
                   double fallback);
qint32 read_int32(platform::SettingsStore& store, const QString& section, const QString& key,
                  qint32 fallback);
float read_single(platform::SettingsStore& store, const QString& section, const QString& key,
                  float fallback);

// Counters and sums: read with default 0, add, write back as real-number text.
void add_to_number(platform::SettingsStore& store, const QString& section, const QString& key,
                   double amount);

} // namespace kelvor::session
