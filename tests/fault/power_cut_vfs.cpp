#include "fault/power_cut_vfs.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kelvor::testing::power_cut {

namespace {

// What a write or truncate replaced, to put back if the power goes before the next sync.
struct Undo {
    sqlite3_int64 offset;
    std::string old_bytes; // what lay at offset, as far as the file reached
    sqlite3_int64 old_size;
};

struct State {
    sqlite3_vfs* base = nullptr;
    sqlite3_vfs vfs{};
    int target = 0;
    Fault fault = Fault::power_cut;
    int seen = 0;
    std::map<std::string, std::vector<Undo>> unsynced; // by file path
};

State& state() {
    static State s;
    return s;
}

struct CutFile {
    sqlite3_file header;
    sqlite3_file* real; // the base layer's file, allocated right after this struct
    std::string* path;
};

sqlite3_file* real(sqlite3_file* f) {
    return reinterpret_cast<CutFile*>(f)->real;
}
std::vector<Undo>& log_of(sqlite3_file* f) {
    return state().unsynced[*reinterpret_cast<CutFile*>(f)->path];
}

[[noreturn]] void cut() {
    if (state().fault != Fault::power_cut)
        ::_exit(exit_status); // the system's cache survives a killed process
    for (auto& [path, undos] : state().unsynced) {
        if (undos.empty())
            continue;
        const int fd = ::open(path.c_str(), O_WRONLY);
        if (fd < 0)
            continue;
        for (auto undo = undos.rbegin(); undo != undos.rend(); ++undo) {
            if (!undo->old_bytes.empty()) [[maybe_unused]]
                auto n = ::pwrite(fd, undo->old_bytes.data(), undo->old_bytes.size(), undo->offset);
            if (::ftruncate(fd, undo->old_size) != 0) {
            }
        }
        ::close(fd);
    }
    ::_exit(exit_status);
}

// True when this operation is to fail.
bool count() {
    auto& s = state();
    ++s.seen;
    if (s.target == 0 || s.seen != s.target)
        return false;
    if (s.fault != Fault::fail)
        cut();
    return true;
}

// Remembers what [offset, offset + amount) holds now.
void remember(sqlite3_file* f, sqlite3_int64 offset, sqlite3_int64 amount) {
    sqlite3_int64 size = 0;
    real(f)->pMethods->xFileSize(real(f), &size);
    Undo undo{offset, {}, size};
    if (offset < size) {
        undo.old_bytes.resize(size_t(std::min(amount, size - offset)));
        real(f)->pMethods->xRead(real(f), undo.old_bytes.data(), int(undo.old_bytes.size()),
                                 offset);
    }
    log_of(f).push_back(std::move(undo));
}

int cut_close(sqlite3_file* f) {
    const int rc = real(f)->pMethods ? real(f)->pMethods->xClose(real(f)) : SQLITE_OK;
    delete reinterpret_cast<CutFile*>(f)->path;
    return rc;
}
int cut_read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return real(f)->pMethods->xRead(real(f), buffer, amount, offset);
}
int cut_write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    auto& s = state();
    if (s.fault == Fault::tear && s.target != 0 && s.seen + 1 == s.target) {
        // The process dies with only the first sector of this write on the disk.
        real(f)->pMethods->xWrite(real(f), data, std::min(amount, 512), offset);
        ::_exit(exit_status);
    }
    if (count())
        return SQLITE_FULL;
    remember(f, offset, amount);
    return real(f)->pMethods->xWrite(real(f), data, amount, offset);
}
int cut_truncate(sqlite3_file* f, sqlite3_int64 size) {
    if (count())
        return SQLITE_IOERR_TRUNCATE;
    sqlite3_int64 old_size = 0;
    real(f)->pMethods->xFileSize(real(f), &old_size);
    if (old_size > size)
        remember(f, size, old_size - size);
    return real(f)->pMethods->xTruncate(real(f), size);
}
int cut_sync(sqlite3_file* f, int flags) {
    if (count())
        return SQLITE_IOERR_FSYNC;
    const int rc = real(f)->pMethods->xSync(real(f), flags);
    if (rc == SQLITE_OK)
        log_of(f).clear();
    return rc;
}
int cut_file_size(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int cut_lock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xLock(real(f), level);
}
int cut_unlock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xUnlock(real(f), level);
}
int cut_check_reserved(sqlite3_file* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int cut_file_control(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int cut_sector_size(sqlite3_file* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int cut_device(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}
int cut_shm_map(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return real(f)->pMethods->xShmMap(real(f), page, size, extend, out);
}
int cut_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
    return real(f)->pMethods->xShmLock(real(f), offset, n, flags);
}
void cut_shm_barrier(sqlite3_file* f) {
    real(f)->pMethods->xShmBarrier(real(f));
}
int cut_shm_unmap(sqlite3_file* f, int delete_flag) {
    return real(f)->pMethods->xShmUnmap(real(f), delete_flag);
}

const sqlite3_io_methods cut_methods = {
    2, // no memory-mapped reads: every change goes through xWrite
    cut_close,   cut_read,     cut_write,          cut_truncate,     cut_sync,        cut_file_size,
    cut_lock,    cut_unlock,   cut_check_reserved, cut_file_control, cut_sector_size, cut_device,
    cut_shm_map, cut_shm_lock, cut_shm_barrier,    cut_shm_unmap,    nullptr,         nullptr,
};

int cut_open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out_flags) {
    auto* file = reinterpret_cast<CutFile*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    file->path = new std::string(name ? name : "");
    file->header.pMethods = nullptr;
    const int rc = state().base->xOpen(state().base, name, file->real, flags, out_flags);
    if (rc != SQLITE_OK) {
        delete file->path;
        return rc;
    }
    file->header.pMethods = &cut_methods;
    return SQLITE_OK;
}

int cut_delete(sqlite3_vfs*, const char* name, int sync_dir) {
    return state().base->xDelete(state().base, name, sync_dir);
}
int cut_access(sqlite3_vfs*, const char* name, int flags, int* out) {
    return state().base->xAccess(state().base, name, flags, out);
}
int cut_full_pathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return state().base->xFullPathname(state().base, name, n, out);
}
void* cut_dl_open(sqlite3_vfs*, const char* name) {
    return state().base->xDlOpen(state().base, name);
}
void cut_dl_error(sqlite3_vfs*, int n, char* out) {
    state().base->xDlError(state().base, n, out);
}
void (*cut_dl_sym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return state().base->xDlSym(state().base, handle, symbol);
}
void cut_dl_close(sqlite3_vfs*, void* handle) {
    state().base->xDlClose(state().base, handle);
}
int cut_randomness(sqlite3_vfs*, int n, char* out) {
    return state().base->xRandomness(state().base, n, out);
}
int cut_sleep(sqlite3_vfs*, int microseconds) {
    return state().base->xSleep(state().base, microseconds);
}
int cut_current_time(sqlite3_vfs*, double* out) {
    return state().base->xCurrentTime(state().base, out);
}
int cut_last_error(sqlite3_vfs*, int n, char* out) {
    return state().base->xGetLastError(state().base, n, out);
}
int cut_current_time64(sqlite3_vfs*, sqlite3_int64* out) {
    return state().base->xCurrentTimeInt64(state().base, out);
}

} // namespace

void install() {
    auto& s = state();
    if (s.base)
        return;
    s.base = sqlite3_vfs_find(nullptr);
    s.vfs.iVersion = 2;
    s.vfs.szOsFile = int(sizeof(CutFile)) + s.base->szOsFile;
    s.vfs.mxPathname = s.base->mxPathname;
    s.vfs.zName = "kelvor-power-cut";
    s.vfs.xOpen = cut_open;
    s.vfs.xDelete = cut_delete;
    s.vfs.xAccess = cut_access;
    s.vfs.xFullPathname = cut_full_pathname;
    s.vfs.xDlOpen = cut_dl_open;
    s.vfs.xDlError = cut_dl_error;
    s.vfs.xDlSym = cut_dl_sym;
    s.vfs.xDlClose = cut_dl_close;
    s.vfs.xRandomness = cut_randomness;
    s.vfs.xSleep = cut_sleep;
    s.vfs.xCurrentTime = cut_current_time;
    s.vfs.xGetLastError = cut_last_error;
    s.vfs.xCurrentTimeInt64 = cut_current_time64;
    sqlite3_vfs_register(&s.vfs, 1);
}

void arm(int n, Fault fault) {
    state().seen = 0;
    state().target = n;
    state().fault = fault;
}

bool failed_one() {
    return state().fault == Fault::fail && state().target > 0 && state().seen >= state().target;
}

} // namespace kelvor::testing::power_cut
