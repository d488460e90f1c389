#pragma once

#include <QString>
#include <cstddef>

namespace kelvor::session {

// "1 year 1 day 1 h 1 min 1 sec": every unit from the largest non-zero one down to seconds.
// Years are 365 days; a negative input shows only its signed seconds remainder.
QString affiche_secondes(qint32 s);

// Room enough for any text of affiche_secondes.
inline constexpr std::size_t affiche_secondes_room = 64;

// The same text in ASCII, written at `out` (affiche_secondes_room characters of room); returns
// its end. For the tables that write it for every row: no string is made.
char* write_affiche_secondes(qint32 s, char* out);
// Its characters, counted without writing it: a table's column is as wide as its widest.
std::size_t affiche_secondes_size(qint32 s);

} // namespace kelvor::session
