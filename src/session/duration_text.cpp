#include "session/duration_text.h"

#include <array>
#include <charconv>
#include <string_view>

namespace kelvor::session {

QString affiche_secondes(qint32 s) {
    // C++ division truncates toward zero and % takes the dividend's sign, as the text needs;
    // a negative count of minutes stops the text after the seconds.
    struct Part {
        qint32 value;
        std::string_view unit;
    };
    std::array<Part, 5> parts{};
    std::size_t count = 0;
    parts[count++] = {s % 60, " sec"};
    const qint32 m = (s - s % 60) / 60;
    if (m > 0) {
        parts[count++] = {m % 60, " min "};
        const qint32 h = (m - m % 60) / 60;
        if (h > 0) {
            parts[count++] = {h % 24, " h "};
            const qint32 d = (h - h % 24) / 24;
            if (d > 0) {
                parts[count++] = {d % 365, " day "};
                const qint32 y = (d - d % 365) / 365;
                if (y > 0)
                    parts[count++] = {y, " year "};
            }
        }
    }
    // Written largest unit first into one buffer: a history lists this text for every
    // session, and a QString per part cost ten times more.
    std::array<char, 64> text{};
    char* end = text.data();
    while (count > 0) {
        const Part& part = parts[--count];
        end = std::to_chars(end, text.data() + text.size(), part.value).ptr;
        end = std::copy(part.unit.begin(), part.unit.end(), end);
    }
    return QString::fromLatin1(text.data(), end - text.data());
}

} // namespace kelvor::session
