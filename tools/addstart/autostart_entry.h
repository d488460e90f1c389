#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Start-up registration on freedesktop desktops: one autostart entry per program title in
// $XDG_CONFIG_HOME/autostart, which the session manager reads at log-in.
namespace kelvor::addstart {

// Exit statuses of AddStart.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1;  // the entry could not be written
constexpr int exit_refused = 2; // the arguments cannot make an entry

// A text as a Desktop Entry string value: backslash, newline, tab and carriage return are
// written as escapes.
QString escape_string_value(const QString& text);

// A program path as the first word of an Exec value: always quoted, with the double quote,
// backtick, dollar and backslash escaped inside the quotes and % doubled, then written as a
// string value. A launcher that undoes these steps runs exactly `path`; nothing in it is
// read as shell syntax or a field code.
QString exec_argument(const QString& path);

// Why `title` cannot name an entry file, or an empty text when it can.
QString title_problem(const QString& title);

// The whole autostart entry for a program. TryExec names the program too, so that once it is
// removed (the package uninstalled, the build folder deleted) the desktop skips the entry.
QByteArray entry_text(const QString& title, const QString& executable);

// True when the user has switched the entry off (Hidden=true, or the GNOME switch set to
// false); such an entry is the user's choice and stays as it is.
bool disabled_by_user(const QByteArray& entry);

struct Outcome {
    int exit_status = exit_ok;
    QString message; // for stderr; empty when there is nothing to say
};

// AddStart TITLE PATH...: the extra words after TITLE are joined with single spaces into the
// path. Writes <config_home>/autostart/TITLE.desktop (config_home: the system's bytes) unless
// it is already current or disabled, or is a link or special file, which is left to the user.
Outcome register_program(const QStringList& arguments, const QByteArray& config_home);

// The command-line arguments as text; nothing when one is not valid UTF-8, which a desktop
// entry cannot hold.
std::optional<QStringList> decode_arguments(int argc, const char* const* argv);

} // namespace kelvor::addstart
