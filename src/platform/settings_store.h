#pragma once

#include "platform/function_ref.h"

#include <QString>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kelvor::platform {

// The one application name every value is stored under.
inline constexpr const char* app_name = "KELVOR";

using SettingList = std::vector<std::pair<QString, QString>>;

// Raised when the store cannot be opened, is not ours, or a statement fails.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when another program holds the store longer than the wait for it: trying again later
// may succeed.
class StoreBusy : public StoreError {
public:
    using StoreError::StoreError;
};

// Raised when SQLite finds pages of the store that do not hold together: what can still be read
// may be recovered into a new store (store_recovery.h).
class StoreDamaged : public StoreError {
public:
    using StoreError::StoreError;
};

// Raised for every write once the store's file was replaced or removed under the program (a
// backup restored with cp or mv while Kelvor ran): trying again cannot help.
class StoreReplaced : public StoreError {
public:
    using StoreError::StoreError;
};

// Text values addressed by section and key, kept in the order of their first write.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The stored text, or `fallback` when the key (or its section) does not exist.
    virtual QString read(const QString& section, const QString& key, const QString& fallback) = 0;
    virtual void write(const QString& section, const QString& key, const QString& value) = 0;
    // All pairs of a section in first-written order; nullopt when the section holds no key.
    virtual std::optional<SettingList> list(const QString& section) = 0;
    // Runs `body` so that all of its writes reach the disk together or not at all, those of
    // the session history included. Nested calls join the outermost transaction. An exception
    // from `body` rolls back.
    virtual void transaction(FunctionRef<void()> body) = 0;
};

} // namespace kelvor::platform
