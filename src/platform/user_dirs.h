#pragma once

#include <QByteArray>
#include <QString>

// The user's folders by the XDG Base Directory rules, shared by kelvor and AddStart. Paths are
// the bytes the system gives: a folder whose name is not valid UTF-8 is still found exactly.
namespace kelvor::platform {

// $HOME when it is an absolute path, else the home directory of the account; empty when
// neither names one.
QByteArray home_directory();

// $XDG_DATA_HOME and $XDG_CONFIG_HOME when they are absolute paths, else ~/.local/share and
// ~/.config. A relative value is ignored, as the rules say: it would name another folder from
// every working directory. Empty when there is no home either.
QByteArray data_home();
QByteArray config_home();

// Creates `path` and every missing folder above it, private to the user (0700) as the rules
// ask for folders made on the user's behalf. False with errno set when one cannot be made.
bool make_private_folders(const QByteArray& path);

// Syncs a folder to disk: a file created or renamed into it is durable only once the folder
// that holds its name is. False when the folder cannot be opened or synced.
bool sync_folder(const QByteArray& folder);

// A path as messages show it.
QString shown_path(const QByteArray& path);

// A system error (errno) as messages show it.
QString error_text(int error);

} // namespace kelvor::platform
