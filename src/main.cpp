#include "barwindow/frm_kelvor.h"
#include "commandline/command_line.h"
#include "platform/activation.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/display.h"
#include "platform/instance_lock.h"
#include "platform/lock_watch.h"
#include "platform/process_starter.h"
#include "platform/shutdown_signals.h"
#include "platform/sqlite_store.h"
#include "platform/standard_streams.h"
#include "platform/store_location.h"
#include "platform/store_recovery.h"
#include "platform/user_dirs.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <future>
#include <memory>

namespace {

bool has_display() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// The bar places itself and is dragged by its own code, which a Wayland compositor does not
// allow a client; under XWayland it can. Without XWayland, Wayland is asked for by name: Qt's
// own choice follows XDG_SESSION_TYPE, which not every Wayland session sets.
void choose_platform() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland");
}

// The store to start on, or null when it is refused (the user was told why). A damaged store
// is recovered first if the user chooses to: what can be read goes into a new store, the
// damaged file is kept aside. `opening` is the first attempt, made on a thread of its own.
std::unique_ptr<kelvor::platform::SqliteStore>
open_store(const QByteArray& path,
           std::future<std::unique_ptr<kelvor::platform::SqliteStore>>& opening) {
    using namespace kelvor;
    try {
        try {
            return opening.get();
        } catch (const platform::StoreDamaged& error) {
            if (!platform::offer_recovery(QString::fromStdString(error.what())))
                return nullptr;
            const platform::Recovery recovery = platform::recover_store(path, QDate::currentDate());
            platform::report_to_user(
                QStringLiteral("recovered %1: %2")
                    .arg(platform::shown_path(path), platform::recovery_text(recovery)));
            return std::make_unique<platform::SqliteStore>(path);
        }
    } catch (const platform::StoreError& error) {
        platform::report_fatal(QString::fromStdString(error.what()));
        return nullptr;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    using namespace kelvor;
    platform::plug_closed_standard_streams();
    // The options print and leave before anything of the bar's start is touched.
    if (const std::optional<int> status = commandline::run_command_line(argc, argv))
        return *status;
    if (!has_display()) {
        std::fputs("kelvor: no graphical display (DISPLAY is not set); start it from a desktop "
                   "session\n",
                   stderr);
        return 1;
    }
    choose_platform();
    platform::DisplayCheck display_check;
    QApplication app(argc, argv);
    display_check.release();
    QApplication::setApplicationName(QStringLiteral("Kelvor"));
    // Task bars find the stopwatch through the desktop entry, or else through the windows' icon,
    // which the bar sets once it is on the screen.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kelvor.kelvor"));
    // Until the bar is up, the boxes of the start are the only windows: closing one must not
    // end the program on its way to the bar.
    QApplication::setQuitOnLastWindowClosed(false);
    // From here a log-off or kill signal waits for the event loop. Until the session runs, the
    // only loop is that of a start-up error box, and the signal ends the program.
    platform::ShutdownSignals shutdown;
    const auto before_session = QObject::connect(&shutdown, &platform::ShutdownSignals::requested,
                                                 [] { QCoreApplication::exit(1); });

    const auto location = platform::StoreLocation::standard();
    if (const QString problem = platform::prepare_store_directory(location.directory);
        !problem.isEmpty()) {
        platform::report_fatal(problem);
        return 1;
    }
    // Is_already_running: a second copy leaves without touching the store, and silently; it
    // only asks the running copy to show its bar, which may be hidden.
    platform::InstanceLock lock(location.lock_path);
    switch (lock.try_acquire()) {
    case platform::InstanceLock::Result::held_elsewhere:
        platform::ask_running_copy_to_show();
        return 0;
    case platform::InstanceLock::Result::failed:
        platform::report_fatal(lock.error());
        return 1;
    case platform::InstanceLock::Result::acquired:
        break;
    }

    // The store's opening and checks read the disk; the bar's first need, the desktop's font,
    // reads font files and parses fontconfig's settings. On a thread of its own the store costs
    // the bar no time before it is shown. Nothing else touches the store meanwhile, and what the
    // opening refuses is told here, in the order it always was.
    // (Where no thread can be made, the opening waits for get() and runs there, as before.)
    auto opening = std::async(std::launch::async | std::launch::deferred, [&location] {
        return std::make_unique<platform::SqliteStore>(location.store_path);
    });
    frmKelvor::load_fonts();
    const std::unique_ptr<platform::SqliteStore> store = open_store(location.store_path, opening);
    if (!store)
        return 1;
    platform::SystemClock clock;
    platform::QtDialogs dialogs;
    platform::DetachedProcessStarter starter;

    frmKelvor bar({*store, clock, dialogs, starter});
    try {
        bar.Form_Load();
    } catch (const platform::StoreError& error) {
        bar.hide();
        platform::report_fatal(QString::fromStdString(error.what()));
        return 1;
    }
    QApplication::setQuitOnLastWindowClosed(true);
    QObject::disconnect(before_session);
    QObject::connect(&shutdown, &platform::ShutdownSignals::requested, &bar, &QWidget::close);
    QObject::connect(&shutdown, &platform::ShutdownSignals::save_requested, &bar,
                     &frmKelvor::save_running_seconds);
    // However the loop is asked to end, the session is booked (closing twice books once).
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &bar, &QWidget::close);
    // A display that goes first (a log-off without a session manager, a compositor that ends)
    // ends the process from inside Qt, without closing the bar.
    const platform::AtExit book_at_exit([&bar] { bar.Form_Unload(); });
    const platform::DisplayLossWatch book_on_display_loss(&bar, [&bar] { bar.Form_Unload(); });
    // A later start finds this copy on the session bus, once the bar is up and the event loop
    // runs.
    platform::Activation activation;
    QObject::connect(&activation, &platform::Activation::show_requested, &bar, &frmKelvor::present);
    QTimer::singleShot(0, &activation, &platform::Activation::publish);
    // The locked screen, from the desktop's own signals on the buses, once the bar is up.
    platform::LockWatch lock_watch;
    QObject::connect(&lock_watch, &platform::LockWatch::locked_changed, &bar,
                     [&bar](bool locked) { bar.session().set_locked(locked); });
    QTimer::singleShot(0, &lock_watch, &platform::LockWatch::start);
    const int status = app.exec();
    return status != 0 || !bar.booking_failed() ? status : 1;
}
