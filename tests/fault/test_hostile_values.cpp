// Every key the program reads, holding text a hand edit or another tool may leave there:
// start, tick, report, month window and end complete, and each value is read as the rules say
// -- a text that is not a number as its reader's default, a number beyond 32 bits clamped.

#include "barwindow/frm_kelvor.h"
#include "platform/twips.h"
#include "session/session_tracker.h"
#include "support/store_invariants.h"
#include "support/test_support.h"

#include <QApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <sqlite3.h>

using kelvor::testing::at;
using kelvor::testing::Fixture;
using kelvor::testing::StoreDump;

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr double int32_max = std::numeric_limits<qint32>::max();
constexpr double int32_min = std::numeric_limits<qint32>::min();

struct FuzzValue {
    const char* name;
    QByteArray bytes;             // stored as they are, UTF-8 or not
    std::optional<double> number; // how it reads as a number; nullopt: not a number
};

const std::vector<FuzzValue> fuzz_values = {
    {"empty", "", std::nullopt},
    {"letters", "abc", std::nullopt},
    {"digits then letters", "12abc", std::nullopt},
    {"a number between spaces", " 7 ", 7},
    {"beyond a double", "1e400", int32_max},
    {"beyond 32 bits", "-99999999999", int32_min},
    {"digits past what a window shows", QByteArray(100, '9'), int32_max},
    {"NaN", "NaN", std::nullopt},
    {"10 KB of text", QByteArray("Kelvor ").repeated(1463), std::nullopt},
    {"bytes that are not UTF-8", QByteArray("\xff\xfe\x80\x37"), std::nullopt},
};

// Writes raw bytes under a key, as an sqlite3 shell or another tool could.
void store_raw(const QString& path, const char* section, const char* key, const QByteArray& v) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO settings (app, section, key, value) VALUES ('KELVOR', ?1, ?2, "
                       "?3) ON CONFLICT (app, section, key) DO UPDATE SET value = excluded.value",
                       -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, section, -1, SQLITE_STATIC);
    sqlite3_bind_text(stmt, 2, key, -1, SQLITE_STATIC);
    sqlite3_bind_text(stmt, 3, v.constData(), int(v.size()), SQLITE_STATIC);
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

QByteArray raw(const QString& path, const char* section, const char* key) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT value FROM settings WHERE section = ?1 AND key = ?2", -1, &stmt,
                       nullptr);
    sqlite3_bind_text(stmt, 1, section, -1, SQLITE_STATIC);
    sqlite3_bind_text(stmt, 2, key, -1, SQLITE_STATIC);
    QByteArray value("<absent>");
    if (sqlite3_step(stmt) == SQLITE_ROW)
        value = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                           sqlite3_column_bytes(stmt, 0));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
}

QString whole(double v) {
    return QString::number(qint64(v));
}

// The store before the fuzzed run: a 3725 s session on 20/03/2000, then one on 22/03/2000
// that saved 120 s and died. The run starts on 25/03/2000, books the dead session (120 s),
// ticks, and ends after 100 s.
constexpr double earlier = 3725, lost = 120, length = 100;

void live_before(Fixture& f) {
    kelvor::session::SessionTracker first(f.temp.store(), f.clock);
    f.clock.set(at(2000, 3, 20, 9, 0, 0));
    first.start();
    f.clock.advance(qint64(earlier));
    first.end();
    kelvor::session::SessionTracker second(f.temp.store(), f.clock);
    f.clock.set(at(2000, 3, 22, 9, 0, 0));
    second.start();
    f.clock.advance(qint64(lost));
    second.checkpoint();
    f.clock.set(at(2000, 3, 25, 9, 0, 0));
}

// What the run left, for the checks of one key.
struct Outcome {
    StoreDump store;
    QString path;
    QPoint place;
    qint32 last_session_duration;
    QByteArray raw(const char* section, const char* key) const { return ::raw(path, section, key); }
};

struct KeyCase {
    const char* section;
    const char* key;
    std::function<void(const FuzzValue&, const Outcome&)> check;
};

double reads(const FuzzValue& v, double fallback) {
    return v.number.value_or(fallback);
}

// Where the bar opens for a stored place in twips: there, unless none of its 112 x 15 pixels
// would be on the screen; then at the first-run place.
QPoint opening_place(double left, double top) {
    using kelvor::platform::twips_to_pixels;
    const QPoint stored(twips_to_pixels(float(left)), twips_to_pixels(float(top)));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return QRect(stored, QSize(112, 15)).intersects(screen) ? stored : QPoint(266, 0);
}

// A counter or sum after the run's read-add-write steps: every read clamps to 32 bits.
double after_adding(double read, std::initializer_list<double> amounts) {
    for (const double amount : amounts)
        read = std::clamp(read, int32_min, int32_max) + amount;
    return read;
}

const std::vector<KeyCase> key_cases = {
    {"Stat", "nb_session",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.store.get("Stat", "nb_session"), whole(after_adding(reads(v, 0), {1})));
     }},
    {"Stat", "nb_session_crashed",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.store.get("Stat", "nb_session_crashed"),
                   whole(after_adding(reads(v, 0), {1})));
     }},
    {"Stat", "nb_time_total",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.store.get("Stat", "nb_time_total"),
                   whole(after_adding(reads(v, 0), {lost, length})));
     }},
    {"Stat", "recupered_time",
     [](const FuzzValue& v, const Outcome& o) {
         // The dead session is booked with what the saved seconds read as; no length is
         // below 0.
         const double booked = std::max(0.0, reads(v, 30));
         EXPECT_EQ(o.last_session_duration, qint32(booked));
         EXPECT_EQ(o.store.get("Stat", "nb_time_total"),
                   whole(after_adding(earlier, {booked, length})));
         EXPECT_EQ(o.store.get("Stat", "recupered_time"), whole(length));
     }},
    {"Stat", "debuted?",
     [](const FuzzValue&, const Outcome& o) {
         // Only an exact "Yes" is an unfinished session.
         EXPECT_EQ(o.store.get("Stat", "nb_session_crashed"), "<absent>");
         EXPECT_EQ(o.store.get("Stat", "nb_time_total"), whole(earlier + length));
         EXPECT_EQ(o.store.get("Stat", "debuted?"), "No");
     }},
    {"Stat", "first_time_run",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.raw("Stat", "first_time_run"), v.bytes); // only "vlim" is "never"
     }},
    {"Stat", "shortest",
     [](const FuzzValue& v, const Outcome& o) {
         // A negative shortest is no record.
         if (const double stored = reads(v, 9999999); stored < 0 || stored > length) {
             EXPECT_EQ(o.store.get("Stat", "shortest"), whole(length));
         } else {
             EXPECT_EQ(o.raw("Stat", "shortest"), v.bytes);
         }
     }},
    {"Stat", "longest",
     [](const FuzzValue& v, const Outcome& o) {
         if (reads(v, 0) < lost) {
             EXPECT_EQ(o.store.get("Stat", "longest"), whole(lost));
         } else {
             EXPECT_EQ(o.raw("Stat", "longest"), v.bytes);
         }
     }},
    {"Stat", "shortest_date",
     [](const FuzzValue&, const Outcome& o) {
         EXPECT_EQ(o.store.get("Stat", "shortest_date"), "25/03/2000"); // the record moved
     }},
    {"Stat", "longest_date",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.raw("Stat", "longest_date"), v.bytes); // the record stayed
     }},
    {"Month_nb_session", "03/2000",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.store.get("Month_nb_session", "03/2000"),
                   whole(after_adding(reads(v, 0), {1, 1})));
     }},
    {"Month_nb_time", "03/2000",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.store.get("Month_nb_time", "03/2000"),
                   whole(after_adding(reads(v, 0), {lost, length})));
     }},
    {"Month_nb_crash", "03/2000",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.store.get("Month_nb_crash", "03/2000"), whole(after_adding(reads(v, 0), {1})));
     }},
    {"Month_longest", "03/2000",
     [](const FuzzValue& v, const Outcome& o) {
         if (reads(v, 0) < lost) {
             EXPECT_EQ(o.store.get("Month_longest", "03/2000"), whole(lost));
         } else {
             EXPECT_EQ(o.raw("Month_longest", "03/2000"), v.bytes);
         }
     }},
    {"Init", "Top",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.place, opening_place(4000, reads(v, 0)));
     }},
    {"Init", "Left",
     [](const FuzzValue& v, const Outcome& o) {
         EXPECT_EQ(o.place, opening_place(reads(v, 4000), 0));
     }},
};

// Closes whatever modal window the run opens (the month window), after drawing it once.
class ModalCloser : public QObject {
public:
    ModalCloser() {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->grab(); // paints it, chart and all
                modal->close();
            }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

// The text of a figure that went wrong.
const QRegularExpression broken_number(QStringLiteral("\\b(nan|inf|infinity)\\b"),
                                       QRegularExpression::CaseInsensitiveOption);

class HostileValue : public ::testing::TestWithParam<KeyCase> {};

} // namespace

TEST_P(HostileValue, EveryStepCompletesAndReadsItAsTheRulesSay) {
    const KeyCase& key = GetParam();
    for (const FuzzValue& value : fuzz_values) {
        SCOPED_TRACE(value.name);
        Fixture f;
        live_before(f);
        store_raw(f.temp.path(), key.section, key.key, value.bytes);
        f.temp.reopen();

        // The whole life of the bar window, inside the event loop as in the program.
        kelvor::frmKelvor bar(f.services());
        f.dialogs.answer_yes = true; // the report's question opens the month window
        ModalCloser closer;
        QTimer::singleShot(0, &bar, [&] {
            bar.Form_Load();
            bar.show();
            f.clock.advance(60);
            bar.session().tick();
            f.clock.advance(20);
            bar.Affiche_stat();
            bar.Affiche_month_stat_graphique();
            f.clock.advance(20);
            bar.close();
        });
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });
        watchdog.start(10000);
        ASSERT_EQ(QApplication::exec(), 0) << "the run did not end";
        watchdog.stop();

        // Counts and dates are shown exactly as stored, so the stored text itself may appear;
        // no figure worked out from it may read as a broken number.
        const QString as_stored = QString::fromUtf8(value.bytes);
        for (const auto& shown : f.dialogs.shown) {
            QString figures = shown.text;
            if (!as_stored.isEmpty())
                figures.remove(as_stored);
            EXPECT_FALSE(figures.contains(broken_number)) << shown.text.toStdString();
        }
        const Outcome outcome{StoreDump::of_file(f.temp.path()), f.temp.path(), bar.pos(),
                              bar.session().last_session_duration};
        EXPECT_EQ(outcome.store.get("Stat", "debuted?"), "No");
        key.check(value, outcome);
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, HostileValue, ::testing::ValuesIn(key_cases), [](const auto& info) {
    std::string name = std::string(info.param.section) + "_" + info.param.key;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    return name;
});
