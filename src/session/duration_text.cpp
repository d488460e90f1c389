#include "session/duration_text.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kelvor::session {

namespace {

// `number` in decimal at `out`; returns the end. The parts of a duration are below 1000 but
// for a negative remainder of seconds.
char* write_number(qint32 number, char* out) {
    if (number < 0 || number > 999)
        return std::to_chars(out, out + 12, number).ptr;
    if (number >= 100) {
        *out++ = char('0' + number / 100);
        *out++ = char('0' + number / 10 % 10);
    } else if (number >= 10) {
        *out++ = char('0' + number / 10);
    }
    *out++ = char('0' + number % 10);
    return out;
}

std::size_t number_size(qint32 number) {
    if (number >= 0 && number <= 999)
        return number < 10 ? 1 : number < 100 ? 2 : 3;
    std::array<char, 12> digits{};
    return std::size_t(std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr -
                       digits.data());
}

// A number and its unit.
template <std::size_t size> char* write_part(qint32 number, const char (&unit)[size], char* out) {
    return std::copy_n(unit, size - 1, write_number(number, out));
}

template <std::size_t size> std::size_t part_size(qint32 number, const char (&)[size]) {
    return number_size(number) + size - 1;
}

// The parts of a length of at least a minute, as the text shows them: its number of seconds,
// minutes, hours, days (of 24 hours) and years (of 365 days). Unsigned, each division by a
// constant is a multiplication.
struct Parts {
    quint32 seconds, minutes, hours, days, years;
};
Parts parts_of(quint32 s) {
    const quint32 m = s / 60, h = m / 60, d = h / 24;
    return {s, m, h, d, d / 365};
}

} // namespace

char* write_affiche_secondes(qint32 s, char* out) {
    // C++ division truncates toward zero and % takes the dividend's sign, as the text needs:
    // below a minute, negative lengths included, the seconds remainder alone. Written largest
    // unit first straight into the buffer: a history lists this text for every session.
    if (s < 60)
        return write_part(s % 60, " sec", out);
    const Parts p = parts_of(quint32(s));
    if (p.years > 0)
        out = write_part(qint32(p.years), " year ", out);
    if (p.days > 0)
        out = write_part(qint32(p.days % 365), " day ", out);
    if (p.hours > 0)
        out = write_part(qint32(p.hours % 24), " h ", out);
    out = write_part(qint32(p.minutes % 60), " min ", out);
    return write_part(qint32(p.seconds % 60), " sec", out);
}

std::size_t affiche_secondes_size(qint32 s) {
    if (s < 60)
        return part_size(s % 60, " sec");
    const Parts p = parts_of(quint32(s));
    std::size_t size =
        part_size(qint32(p.minutes % 60), " min ") + part_size(qint32(p.seconds % 60), " sec");
    if (p.hours > 0)
        size += part_size(qint32(p.hours % 24), " h ");
    if (p.days > 0)
        size += part_size(qint32(p.days % 365), " day ");
    if (p.years > 0)
        size += part_size(qint32(p.years), " year ");
    return size;
}

QString affiche_secondes(qint32 s) {
    std::array<char, affiche_secondes_room> text{};
    const char* end = write_affiche_secondes(s, text.data());
    return QString::fromLatin1(text.data(), end - text.data());
}

} // namespace kelvor::session
