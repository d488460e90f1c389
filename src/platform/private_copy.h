#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace kelvor::platform {

// A private copy of a database and its -wal, in a folder of the user's alone, made to be read
// where SQLite could otherwise read the pair only by writing beside it: without the -shm,
// SQLite makes one, and a file that may not be Kelvor's is not to be touched. A backup that
// skips *-shm files restores such a pair. No copy of Kelvor runs on it (a running copy keeps
// its -shm), so the pair does not change while it is copied.
class PrivateCopy {
public:
    // Throws StoreError when the copy cannot be made.
    explicit PrivateCopy(const QByteArray& path);
    const QByteArray& path() const { return path_; }

    // Grows the copy of a file cut short to the size its first page gives: SQLite refuses a file
    // shorter than it says it is, but reads the pages that were cut off as empty ones, and what
    // lies before them can then be read. Does nothing to a file as long as it says.
    void restore_length();

private:
    QTemporaryDir folder_;
    QByteArray path_;
};

} // namespace kelvor::platform
