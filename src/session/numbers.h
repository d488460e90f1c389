#pragma once

#include <QString>
#include <optional>

namespace kelvor::platform {
class SettingsStore;
}

namespace kelvor::session {

// Decimal digits with a leading "-" for negatives.
QString whole_number_text(qint64 value);
// The decimal text of a double; whole values (all that the program stores) have no point.
QString real_number_text(double value);

// A plain decimal number ("12", "-3", " 7 ", "1.5", "2e3"), independent of the user's locale.
// Anything else, NaN included, is nullopt; a value too large for a double is +/-infinity.
std::optional<double> parse_number(const QString& text);

// Numbers kept in the store never leave the 32-bit range, whatever a hand-edited store holds.
double clamp_to_int32_range(double value);
// Rounded half to even, then clamped.
qint32 to_int32(double value);

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
