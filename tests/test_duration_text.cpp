#include "session/duration_text.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using kelvor::session::affiche_secondes;

TEST(DurationText, Table) {
    const std::vector<std::pair<qint32, const char*>> table = {
        {0, "0 sec"},
        {59, "59 sec"},
        {60, "1 min 0 sec"},
        {3600, "1 h 0 min 0 sec"},
        {3725, "1 h 2 min 5 sec"},
        {86399, "23 h 59 min 59 sec"},
        {86400, "1 day 0 h 0 min 0 sec"},
        {90061, "1 day 1 h 1 min 1 sec"},
        {999999, "11 day 13 h 46 min 39 sec"},
        {31535999, "364 day 23 h 59 min 59 sec"},
        {31536000, "1 year 0 day 0 h 0 min 0 sec"},
        {31626061, "1 year 1 day 1 h 1 min 1 sec"},
        {std::numeric_limits<qint32>::max(), "68 year 35 day 3 h 14 min 7 sec"},
        // Negative: the negative minute count ends the text after the seconds.
        {-75, "-15 sec"},
        {-3725, "-5 sec"},
        {-60, "0 sec"},
        {-1, "-1 sec"},
        {std::numeric_limits<qint32>::min(), "-8 sec"},
    };
    for (const auto& [seconds, text] : table) {
        SCOPED_TRACE(seconds);
        const QString got = affiche_secondes(seconds);
        EXPECT_EQ(got, QString::fromLatin1(text));
        EXPECT_EQ(kelvor::session::affiche_secondes_size(seconds), std::strlen(text));
        EXPECT_FALSE(got.startsWith(' ') || got.endsWith(' '));
    }
}
