#include "barwindow/frm_kelvor.h"

#include "platform/process_starter.h"
#include "platform/settings_store.h"
#include "platform/twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>
#include <cstdio>

namespace kelvor {

namespace {

constexpr int tick_interval_ms = 60000;

QRect twips_rect(int left, int top, int width, int height) {
    using platform::twips_to_pixels;
    return {twips_to_pixels(left), twips_to_pixels(top), twips_to_pixels(width),
            twips_to_pixels(height)};
}

// A store that fails in the middle of the run (disk full, folder made read-only) must not end
// the program: the next checkpoint tries again, and stderr says why.
template <typename Step> void without_crashing(const char* what, Step&& step) {
    try {
        step();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvor: %s: %s\n", what, error.what());
    }
}

} // namespace

frmKelvor::frmKelvor(const Services& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), services_(services),
      session_(services.store, services.clock) {
    setWindowTitle(QStringLiteral("Kelvor"));
    setFixedSize(platform::twips_to_pixels(1680), platform::twips_to_pixels(225));

    Label1 = new QLabel(QStringLiteral("Elapsed (min.):"), this);
    Label1->setGeometry(twips_rect(60, 0, 1035, 195));
    Lab_minutes_elapsed = new QLabel(QStringLiteral("0"), this);
    Lab_minutes_elapsed->setGeometry(twips_rect(1140, 0, 495, 195));

    Timer1 = new QTimer(this);
    Timer1->setInterval(tick_interval_ms);
    Timer1->setTimerType(Qt::VeryCoarseTimer);
    connect(Timer1, &QTimer::timeout, this, &frmKelvor::Timer1_Timer);
}

frmKelvor::~frmKelvor() = default;

void frmKelvor::Form_Load() {
    Register_at_startup();
    place_at(session_.start());
    Timer1->start();
}

void frmKelvor::place_at(const session::WindowPlace& place) {
    move(platform::twips_to_pixels(place.left), platform::twips_to_pixels(place.top));
}

void frmKelvor::Register_at_startup() {
    services_.starter.start_detached(QStringLiteral("AddStart"),
                                     {QStringLiteral("Kelvor"), platform::executable_path()});
}

void frmKelvor::Timer1_Timer() {
    without_crashing("cannot save the running session", [this] { session_.tick(); });
    Lab_minutes_elapsed->setText(QString::number(session_.minutes_elapsed_current_session));
}

void frmKelvor::Form_Unload() {
    Timer1->stop();
    without_crashing("cannot book the session", [this] { session_.end(); });
}

void frmKelvor::closeEvent(QCloseEvent* event) {
    const bool first_close = !session_.has_ended();
    Form_Unload();
    event->accept();
    // A report or the month window may still be open in a nested loop; the session is
    // booked, so the whole program ends now.
    if (first_close)
        QCoreApplication::quit();
}

} // namespace kelvor
