#pragma once

namespace kelvor::testing::power_cut {

// An SQLite file layer over the default one that can cut the power, or fail, at any change
// to the disk. Once armed it counts the operations that change a file (write, truncate, sync) and
// before the n-th: undoes every write not yet synced -- what a disk cache loses when the
// power goes -- and ends the process at once. Install it in a child process before the store
// opens; it becomes the default for every connection there. Test-only, like DyingStore.
void install();
// Counts from now and cuts before the `n`-th operation (1-based); 0 disarms.
void arm(int n);
// Counts from now and fails the `n`-th operation instead, as a full or failing disk does:
// a write with SQLITE_FULL, a truncate or a sync with an I/O error. The process goes on.
void fail_at(int n);
// Whether the operation chosen by fail_at came and failed.
bool failed_one();

// The exit status of a process whose power was cut.
inline constexpr int exit_status = 50;

} // namespace kelvor::testing::power_cut
