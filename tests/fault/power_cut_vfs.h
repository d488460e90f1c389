#pragma once

namespace kelvor::testing::power_cut {

// An SQLite file layer over the default one that strikes at any change to the disk, SQLite's
// own included (the checkpoint that copies the -wal into the database when the store closes).
// Once armed it counts the operations that change a file (write, truncate, sync), and at the
// n-th one strikes with its fault. Install it in a child process before the store opens; it
// becomes the default for every connection there. Test-only, like DyingStore.
void install();

enum class Fault {
    // Before the operation, every write not yet synced is undone -- what a disk cache loses
    // when the power goes -- and the process ends at once.
    power_cut,
    // The process is killed before the operation; what it wrote stays, as the system's cache
    // keeps it.
    kill,
    // Killed in the middle of the operation: of a write, only the first sector reaches the file.
    tear,
    // The operation fails, as a full or failing disk does: a write with SQLITE_FULL, a
    // truncate or a sync with an I/O error. The process goes on.
    fail,
};

// Counts from now and strikes at the `n`-th operation (1-based); 0 disarms.
void arm(int n, Fault fault = Fault::power_cut);
// Whether the operation chosen by Fault::fail came and failed.
bool failed_one();

// The exit status of a process whose power was cut.
inline constexpr int exit_status = 50;

} // namespace kelvor::testing::power_cut
