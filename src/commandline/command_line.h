#pragma once

#include "commandline/figures_output.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>

// kelvor's options: help, version, and the figures printed without a display. They are handled
// before anything of the bar's start: no store is created or changed, the lock is not taken and
// AddStart is not started -- but for --recover, which takes the lock and replaces a damaged
// store by what can be read of it, keeping the damaged file aside.
namespace kelvor::commandline {

// What the arguments ask for.
struct Request {
    enum class Action { start_bar, help, version, report, months, sessions, days, recover };
    Action action = Action::start_bar;
    Format format = Format::plain;
    DayRange days; // --since and --until; --days alone: the last 7 days
    QString error; // why the arguments cannot be followed, one line; empty when they can
};

// Reads the arguments (the program's name first); `today` is the day "today" names. Qt's own
// options (-platform, -session and the like) are left to the bar's start, as they always were.
Request parse_arguments(const QStringList& arguments, const QDate& today);

// The usage text, as --help prints it.
QString help_text();

// Runs what the arguments ask for and returns the exit status: 0 done, 1 the store cannot be
// read (or recovered) or the output cannot be written, 2 the arguments are wrong. nullopt when they
// ask for the bar, which costs no more than a look at the argument count when there are none.
std::optional<int> run_command_line(int argc, char* argv[]);

} // namespace kelvor::commandline
