#include "bench_common.h"

#include "platform/clock.h"
#include "platform/store.h"
#include "session/dates.h"
#include "session/session_tracker.h"
#include "session/store_names.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <time.h>

namespace kelvor::bench {

namespace {

std::mutex counters_mutex;
std::map<std::string, FileCounters> counters;

// The main database file a path belongs to: "x.sqlite3-wal" and "x.sqlite3-journal" count
// for "x.sqlite3".
std::string owner_of(const char* path) {
    std::string name = path ? path : "";
    for (const char* suffix : {"-wal", "-journal", "-shm"}) {
        const std::size_t n = std::strlen(suffix);
        if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0)
            return name.substr(0, name.size() - n);
    }
    return name;
}

// A file of the counting VFS: our methods in front, the real file right behind.
struct CountingFile {
    sqlite3_file base;
    std::string* owner;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_vfs* real_vfs = nullptr;
sqlite3_vfs counting_vfs;

sqlite3_file* real_of(sqlite3_file* f) {
    return reinterpret_cast<CountingFile*>(f)->real();
}

int c_close(sqlite3_file* f) {
    auto* file = reinterpret_cast<CountingFile*>(f);
    const int rc =
        file->real()->pMethods ? file->real()->pMethods->xClose(file->real()) : SQLITE_OK;
    delete file->owner;
    file->owner = nullptr;
    return rc;
}
int c_read(sqlite3_file* f, void* b, int n, sqlite3_int64 o) {
    return real_of(f)->pMethods->xRead(real_of(f), b, n, o);
}
int c_write(sqlite3_file* f, const void* b, int n, sqlite3_int64 o) {
    return real_of(f)->pMethods->xWrite(real_of(f), b, n, o);
}
int c_truncate(sqlite3_file* f, sqlite3_int64 size) {
    return real_of(f)->pMethods->xTruncate(real_of(f), size);
}
int c_sync(sqlite3_file* f, int flags) {
    auto* file = reinterpret_cast<CountingFile*>(f);
    {
        const std::lock_guard lock(counters_mutex);
        ++counters[*file->owner].syncs;
    }
    return file->real()->pMethods->xSync(file->real(), flags);
}
int c_file_size(sqlite3_file* f, sqlite3_int64* size) {
    return real_of(f)->pMethods->xFileSize(real_of(f), size);
}
int c_lock(sqlite3_file* f, int level) {
    return real_of(f)->pMethods->xLock(real_of(f), level);
}
int c_unlock(sqlite3_file* f, int level) {
    return real_of(f)->pMethods->xUnlock(real_of(f), level);
}
int c_check_reserved(sqlite3_file* f, int* out) {
    return real_of(f)->pMethods->xCheckReservedLock(real_of(f), out);
}
int c_file_control(sqlite3_file* f, int op, void* arg) {
    return real_of(f)->pMethods->xFileControl(real_of(f), op, arg);
}
int c_sector_size(sqlite3_file* f) {
    return real_of(f)->pMethods->xSectorSize(real_of(f));
}
int c_device_characteristics(sqlite3_file* f) {
    return real_of(f)->pMethods->xDeviceCharacteristics(real_of(f));
}
int c_shm_map(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
    return real_of(f)->pMethods->xShmMap(real_of(f), page, size, extend, out);
}
int c_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
    return real_of(f)->pMethods->xShmLock(real_of(f), offset, n, flags);
}
void c_shm_barrier(sqlite3_file* f) {
    real_of(f)->pMethods->xShmBarrier(real_of(f));
}
int c_shm_unmap(sqlite3_file* f, int remove) {
    return real_of(f)->pMethods->xShmUnmap(real_of(f), remove);
}
int c_fetch(sqlite3_file* f, sqlite3_int64 o, int n, void** out) {
    return real_of(f)->pMethods->xFetch(real_of(f), o, n, out);
}
int c_unfetch(sqlite3_file* f, sqlite3_int64 o, void* p) {
    return real_of(f)->pMethods->xUnfetch(real_of(f), o, p);
}

const sqlite3_io_methods counting_methods = {
    3,
    c_close,
    c_read,
    c_write,
    c_truncate,
    c_sync,
    c_file_size,
    c_lock,
    c_unlock,
    c_check_reserved,
    c_file_control,
    c_sector_size,
    c_device_characteristics,
    c_shm_map,
    c_shm_lock,
    c_shm_barrier,
    c_shm_unmap,
    c_fetch,
    c_unfetch,
};

int c_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out_flags) {
    auto* file = reinterpret_cast<CountingFile*>(f);
    file->base.pMethods = nullptr;
    file->owner = nullptr;
    const int rc = real_vfs->xOpen(real_vfs, name, file->real(), flags, out_flags);
    if (file->real()->pMethods == nullptr)
        return rc;
    file->owner = new std::string(owner_of(name));
    file->base.pMethods = &counting_methods;
    return rc;
}

int count_commit(void* owner) {
    const std::lock_guard lock(counters_mutex);
    ++counters[*static_cast<std::string*>(owner)].commits;
    return 0; // let the commit go ahead
}

int hook_connection(sqlite3* db, const char**, const sqlite3_api_routines*) {
    const char* path = sqlite3_db_filename(db, "main");
    // Leaks one string per connection; a benchmark opens a handful.
    sqlite3_commit_hook(db, count_commit, new std::string(owner_of(path)));
    return SQLITE_OK;
}

} // namespace

void install_sqlite_counters() {
    real_vfs = sqlite3_vfs_find(nullptr);
    counting_vfs = *real_vfs;
    counting_vfs.zName = "counting";
    counting_vfs.szOsFile = int(sizeof(CountingFile)) + real_vfs->szOsFile;
    counting_vfs.xOpen = c_open;
    sqlite3_vfs_register(&counting_vfs, 1);
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(hook_connection));
}

FileCounters counters_for(const std::string& path) {
    const std::lock_guard lock(counters_mutex);
    const auto it = counters.find(path);
    return it == counters.end() ? FileCounters{} : it->second;
}

void seed_history(platform::Store& store, platform::SettableClock& clock, int months) {
    namespace names = session::names;
    // months - 1 past months, ending with the one before the clock's month...
    const QDate this_month(clock.now().date().year(), clock.now().date().month(), 1);
    store.transaction([&] {
        for (int m = months - 1; m >= 1; --m) {
            const QString key = this_month.addMonths(-m).toString(QStringLiteral("MM/yyyy"));
            store.write(names::month_nb_session, key, QString::number(60 + m % 7));
            store.write(names::month_nb_time, key, QString::number(300000 + 977 * (m % 500)));
            store.write(names::month_nb_crash, key, QString::number(m % 3));
            store.write(names::month_longest, key, QString::number(20000 + 31 * (m % 500)));
        }
    });
    // ...and the clock's month, with one session booked by the real code.
    session::SessionTracker first(store, clock);
    first.start();
    clock.advance(3600);
    first.end();
}

void seed_sessions(platform::Store& store, const platform::SettableClock& clock, int months,
                   int sessions) {
    // In UTC: local times over a century make Qt look up every change of the time zone.
    const QDateTime first = clock.now().toUTC().addMonths(-months);
    const qint64 step = first.secsTo(clock.now()) / std::max(sessions, 1);
    store.transaction([&] {
        for (int i = 0; i < sessions; ++i) {
            const QDateTime started = first.addSecs(step * i);
            const qint32 seconds = 3000 + (i * 7919) % 1200;
            const qint64 id = store.add_running_session(session::iso_date_time(started));
            if (i % 10 == 9)
                store.mark_running_session_crashed(seconds);
            else
                store.mark_session_ended(id, seconds, 0,
                                         session::iso_date_time(started.addSecs(seconds)));
            store.add_to_day(session::iso_date(started.date()), seconds, 0, 1);
        }
    });
}

double thread_cpu_us() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const std::size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(mid), values.end());
    double m = values[mid];
    if (values.size() % 2 == 0) {
        m = (m + *std::max_element(values.begin(), values.begin() + long(mid))) / 2;
    }
    return m;
}

} // namespace kelvor::bench
