#include "session/duration_text.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kelvor::session {

namespace {

// `number` in decimal at `out`; returns the end. The parts of a duration are below 1000 but
// for the years and a negative remainder of seconds.
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

// A number and its unit.
template <std::size_t size> char* write_part(qint32 number, const char (&unit)[size], char* out) {
    return std::copy_n(unit, size - 1, write_number(number, out));
}

} // namespace

char* write_affiche_secondes(qint32 s, char* out) {
    // C++ division truncates toward zero and % takes the dividend's sign, as the text needs;
    // a negative count of minutes stops the text after the seconds. Written largest unit first
    // straight into the buffer: a history lists this text for every session.
    const qint32 m = (s - s % 60) / 60;
    if (m > 0) {
        const qint32 h = (m - m % 60) / 60;
        if (h > 0) {
            const qint32 d = (h - h % 24) / 24;
            if (d > 0) {
                const qint32 y = (d - d % 365) / 365;
                if (y > 0)
                    out = write_part(y, " year ", out);
                out = write_part(d % 365, " day ", out);
            }
            out = write_part(h % 24, " h ", out);
        }
        out = write_part(m % 60, " min ", out);
    }
    return write_part(s % 60, " sec", out);
}

QString affiche_secondes(qint32 s) {
    std::array<char, affiche_secondes_room> text{};
    const char* end = write_affiche_secondes(s, text.data());
    return QString::fromLatin1(text.data(), end - text.data());
}

} // namespace kelvor::session
