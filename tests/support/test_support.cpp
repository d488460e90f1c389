#include "support/test_support.h"

#include <gtest/gtest.h>

namespace kelvor::testing {

TempStore::TempStore() {
    EXPECT_TRUE(dir_.isValid());
    reopen();
}

void TempStore::reopen() {
    store_.reset();
    store_ = std::make_unique<platform::SqliteSettingsStore>(path());
}

bool RecordingDialogs::ask_yes_no(QWidget* owner, const QString& title, const QString& text) {
    shown.push_back({true, title, text, owner});
    if (while_shown)
        while_shown();
    return answer_yes;
}

void RecordingDialogs::tell(QWidget* owner, const QString& title, const QString& text) {
    shown.push_back({false, title, text, owner});
    if (while_shown)
        while_shown();
}

QDateTime at(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

} // namespace kelvor::testing
