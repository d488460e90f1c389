#pragma once

#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/process_starter.h"
#include "platform/services.h"
#include "platform/sqlite_store.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelvor::testing {

// The real SQLite store in a fresh temporary folder.
class TempStore {
public:
    TempStore();
    platform::SqliteStore& store() { return *store_; }
    QString directory() const { return dir_.path(); }
    QString path() const { return dir_.path() + QStringLiteral("/store.sqlite3"); }
    // Closes and opens the file again, as a new run would.
    void reopen();
    QString get(const QString& section, const QString& key) {
        return store_->read(section, key, QStringLiteral("<absent>"));
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<platform::SqliteStore> store_;
};

// Records every box and answers questions with a preset answer.
class RecordingDialogs final : public platform::Dialogs {
public:
    struct Shown {
        bool question;
        QString title;
        QString text;
        QWidget* owner = nullptr;
    };
    bool ask_yes_no(QWidget* owner, const QString& title, const QString& text) override;
    void tell(QWidget* owner, const QString& title, const QString& text) override;

    bool answer_yes = false;
    std::vector<Shown> shown;
    std::function<void()> while_shown; // runs while the "box" is open
};

class RecordingStarter final : public platform::ProcessStarter {
public:
    void start_detached(const QString& program, const QStringList& arguments) override {
        started.push_back({program, arguments});
    }
    std::vector<std::pair<QString, QStringList>> started;
};

// Runs `sql` on the database at `path` as another program would; false when it failed.
bool run_sql(const QString& path, const char* sql);

// Runs `sql` on the database at `path` in a child process that ends without closing it, as a
// program that was stopped: a -wal and -shm stay beside the file. False when the SQL failed.
bool run_sql_and_stop(const QString& path, const char* sql);

// Leaves the store at `path` as a program does that was stopped while its checkpoint copied
// the -wal into the file: `sql` is run and left in the -wal by a stopped program, and then the
// newest first page of the -wal -- which names every page the change made -- alone is copied
// into the file, as the first write of a checkpoint.
bool stop_in_checkpoint(const QString& path, const char* sql);

// Damages one leaf page of `table` in the store at `path` (which must hold everything, its -wal
// checkpointed): the `nth` leaf, counted from 0, is zeroed, or torn -- its second half zeroed,
// as a write cut off half-way leaves it. False when the table has no such page.
enum class Damage { zeroed, torn };
bool damage_page(const QString& path, const char* table, int nth, Damage how);

// Turns the store at `path` into one of the second format, as Kelvor 1.1 kept it: no day
// ledger and no locked seconds, user_version 2. Its settings and history stay as they are.
void downgrade_to_second_format(const QString& path);
// ... or of the first format, as the first release kept it: no session history either, no
// index, user_version 1.
void downgrade_to_first_format(const QString& path);

// Names each test of a parameterised suite after its case's `name`: letters and digits as
// they are, anything else as '_'.
struct NamedAfterCase {
    template <typename Info> std::string operator()(const Info& info) const {
        std::string name = info.param.name;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        }
        return name;
    }
};

// A day and time, local.
QDateTime at(int year, int month, int day, int hour = 12, int minute = 0, int second = 0);

// Everything a window needs, over a temporary store and a settable clock.
struct Fixture {
    TempStore temp;
    platform::SettableClock clock{at(2000, 3, 25, 9, 0, 0)};
    RecordingDialogs dialogs;
    RecordingStarter starter;
    Services services() { return {temp.store(), clock, dialogs, starter}; }
};

} // namespace kelvor::testing
