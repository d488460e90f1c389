#include "barwindow/frm_kelvor.h"

#include "barwindow/font_fitting.h"
#include "barwindow/minute_count.h"
#include "barwindow/mouse_arguments.h"
#include "platform/dialogs.h"
#include "platform/display.h"
#include "platform/process_starter.h"
#include "platform/system_colours.h"
#include "platform/twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <utility>

namespace kelvor {

namespace {

constexpr int tick_interval_ms = 60000;
// A bar asked for flashes three times in a second and a half: inverted, plain, and so on.
constexpr int flash_changes = 6;
constexpr int flash_change_ms = 250;
const QString caption_text = QStringLiteral("Elapsed (min.):");

QRect twips_rect(int left, int top, int width, int height) {
    using platform::twips_to_pixels;
    return {twips_to_pixels(left), twips_to_pixels(top), twips_to_pixels(width),
            twips_to_pixels(height)};
}

// A store that fails in the middle of the run (disk full, folder made read-only) must not end
// the program: the next checkpoint tries again, and stderr says why.
// False when it failed.
template <typename Step> bool without_crashing(const char* what, Step&& step) {
    try {
        step();
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvor: %s: %s\n", what, error.what());
        return false;
    }
}

using MouseHandler = void (frmKelvor::*)(qint16, qint16, float, float);
struct MouseHandlers {
    MouseHandler down;
    MouseHandler move;
    MouseHandler up;
};

constexpr MouseHandlers form_handlers{&frmKelvor::Form_MouseDown, &frmKelvor::Form_MouseMove,
                                      &frmKelvor::Form_MouseUp};
constexpr MouseHandlers label1_handlers{&frmKelvor::Label1_MouseDown, &frmKelvor::Label1_MouseMove,
                                        &frmKelvor::Label1_MouseUp};
constexpr MouseHandlers minutes_handlers{&frmKelvor::Lab_minutes_elapsed_MouseDown,
                                         &frmKelvor::Lab_minutes_elapsed_MouseMove,
                                         &frmKelvor::Lab_minutes_elapsed_Mouseup};

} // namespace

frmKelvor::frmKelvor(const Services& services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), services_(services),
      session_(services.store, services.clock) {
    setWindowTitle(QStringLiteral("Kelvor"));
    setFixedSize(platform::twips_to_pixels(1680), platform::twips_to_pixels(225));

    Label1 = new QLabel(caption_text, this);
    Label1->setGeometry(twips_rect(60, 0, 1035, 195));
    Lab_minutes_elapsed = new MinuteCount(QStringLiteral("0"), this);
    Lab_minutes_elapsed->setGeometry(twips_rect(1140, 0, 495, 195));
    // The count changes every minute. Its size is fixed: a new count asks the bar for no
    // layout.
    Lab_minutes_elapsed->setFixedSize(Lab_minutes_elapsed->size());
    apply_system_colours();
    fit_label_fonts();

    // Moves reach the handlers also with no button held: a drag whose release went to a modal
    // window still follows the mouse until the next release.
    for (QWidget* control : {static_cast<QWidget*>(this), static_cast<QWidget*>(Label1),
                             static_cast<QWidget*>(Lab_minutes_elapsed)}) {
        control->setMouseTracking(true);
        control->installEventFilter(this);
    }

    Timer1 = new QTimer(this);
    Timer1->setInterval(tick_interval_ms);
    Timer1->setTimerType(Qt::VeryCoarseTimer);
    connect(Timer1, &QTimer::timeout, this, &frmKelvor::Timer1_Timer);

    flash_timer_ = new QTimer(this);
    flash_timer_->setInterval(flash_change_ms);
    connect(flash_timer_, &QTimer::timeout, this, &frmKelvor::next_flash);
}

frmKelvor::~frmKelvor() = default;

void frmKelvor::load_fonts() {
    QFontMetricsF(QApplication::font("QLabel")).horizontalAdvance(caption_text);
}

void frmKelvor::Form_Load() {
    Register_at_startup();
    place_at(reachable(session_.window_place()));
    // The start sequence ends with a sync to the disk, which takes milliseconds on a disk that
    // is busy, as it is at log-in; the bar is sent to the screen first.
    show();
    platform::flush_display();
    session_.start();
    Timer1->start();
    // The icon theme's look-up costs more than the rest of a start together, so the stopwatch
    // comes once the event loop runs, with the bar already drawn; so does the request for
    // every workspace, which the window manager can only grant a window it has mapped.
    QTimer::singleShot(0, this, [this] {
        QApplication::setWindowIcon(platform::kelvor_icon());
        platform::show_on_every_workspace(*this);
    });
}

void frmKelvor::Register_at_startup() {
    services_.starter.start_detached(QStringLiteral("AddStart"),
                                     {QStringLiteral("Kelvor"), platform::executable_path()});
}

void frmKelvor::Timer1_Timer() {
    without_crashing("cannot save the running session", [this] { session_.tick(); });
    const QString minutes = QString::number(session_.minutes_elapsed_current_session);
    // Only a count with one more digit can outgrow its box; measuring text costs more than
    // the rest of a tick, so the fit is kept for those few ticks.
    const bool longer = minutes.size() != Lab_minutes_elapsed->text().size();
    Lab_minutes_elapsed->setText(minutes);
    if (longer)
        fit_label_fonts();
}

void frmKelvor::Form_Unload() {
    Timer1->stop();
    if (!without_crashing("cannot book the session", [this] { session_.end(); }))
        booking_failed_ = true;
}

void frmKelvor::present() {
    if (isMinimized())
        showNormal();
    platform::show_on_every_workspace(*this);
    raise();
    flashes_left_ = flash_changes;
    next_flash();
    flash_timer_->start();
}

void frmKelvor::next_flash() {
    --flashes_left_;
    apply_system_colours(flashes_left_ % 2 == 1);
    if (flashes_left_ <= 0)
        flash_timer_->stop();
}

void frmKelvor::save_running_seconds() {
    without_crashing("cannot save the running session", [this] { session_.checkpoint(); });
}

void frmKelvor::Form_MouseDown(qint16 Button, qint16 /*Shift*/, float X, float Y) {
    if (Button == 1) {
        dragging = 1;
        x_down = X;
        y_down = Y;
        if (!platform::can_place_windows())
            windowHandle()->startSystemMove();
    }
    if (Button == 2)
        without_crashing("cannot show the usage report", [this] { Affiche_stat(); });
    if (Button == 4)
        without_crashing("cannot show the month window",
                         [this] { Affiche_month_stat_graphique(); });
}

// X - x_down is the mouse's travel since the press, because the control that took the press
// keeps the mouse until the release; the pressed point thus stays under the cursor.
void frmKelvor::Form_MouseMove(qint16 /*Button*/, qint16 /*Shift*/, float X, float Y) {
    if (dragging != 1)
        return;
    const session::WindowPlace place = current_place();
    place_at({.top = Y + place.top - y_down, .left = X + place.left - x_down});
}

void frmKelvor::Form_MouseUp(qint16 /*Button*/, qint16 /*Shift*/, float /*X*/, float /*Y*/) {
    dragging = 0;
    without_crashing("cannot store the place of the bar", [this] { save_place(); });
}

void frmKelvor::Label1_MouseDown(qint16 Button, qint16 Shift, float X, float Y) {
    Form_MouseDown(Button, Shift, X, Y);
}
void frmKelvor::Label1_MouseMove(qint16 Button, qint16 Shift, float X, float Y) {
    Form_MouseMove(Button, Shift, X, Y);
}
void frmKelvor::Label1_MouseUp(qint16 Button, qint16 Shift, float X, float Y) {
    Form_MouseUp(Button, Shift, X, Y);
}
void frmKelvor::Lab_minutes_elapsed_MouseDown(qint16 Button, qint16 Shift, float X, float Y) {
    Form_MouseDown(Button, Shift, X, Y);
}
void frmKelvor::Lab_minutes_elapsed_MouseMove(qint16 Button, qint16 Shift, float X, float Y) {
    Form_MouseMove(Button, Shift, X, Y);
}
void frmKelvor::Lab_minutes_elapsed_Mouseup(qint16 Button, qint16 Shift, float X, float Y) {
    Form_MouseUp(Button, Shift, X, Y);
}

// Mouse events of the strip and of each label go to that control's handlers. Qt keeps
// delivering to the control that took the press until the release, also outside the window.
bool frmKelvor::eventFilter(QObject* watched, QEvent* event) {
    const MouseHandlers* handlers = watched == this                  ? &form_handlers
                                    : watched == Label1              ? &label1_handlers
                                    : watched == Lab_minutes_elapsed ? &minutes_handlers
                                                                     : nullptr;
    MouseHandler handler = nullptr;
    if (handlers) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: // the second press of a quick double press
            handler = handlers->down;
            break;
        case QEvent::MouseMove:
            handler = handlers->move;
            break;
        case QEvent::MouseButtonRelease:
            handler = handlers->up;
            break;
        default:
            break;
        }
    }
    if (!handler)
        return QWidget::eventFilter(watched, event);
    auto& mouse = static_cast<QMouseEvent&>(*event);
    const MouseArguments a = mouse_arguments(mouse, static_cast<const QWidget&>(*watched));
    mouse.accept();
    (this->*handler)(a.Button, a.Shift, a.X, a.Y);
    return true;
}

// The strip shows the desktop colour with the texts in the title-bar text colour, in every
// state of the window, and follows the user's theme when it changes. Inverted, the two colours
// swap places: as readable, and seen at once.
void frmKelvor::apply_system_colours(bool inverted) {
    QColor background = platform::system_colour(platform::SystemColour::desktop);
    QColor text = platform::system_colour(platform::SystemColour::title_bar_text);
    if (inverted)
        std::swap(background, text);
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, background);
        palette.setColor(group, QPalette::WindowText, text);
    }
    setPalette(palette);
    setAutoFillBackground(true);
}

void frmKelvor::fit_label_fonts() {
    const QFont caption = font_fitting(QApplication::font(Label1), Label1->text(), Label1->size());
    Label1->setFont(caption);
    // The count never looks larger than the caption beside it. Digits need no text shaping,
    // which its repaint would otherwise run at every tick.
    QFont count = font_fitting(caption, Lab_minutes_elapsed->text(), Lab_minutes_elapsed->size());
    count.setStyleStrategy(QFont::PreferNoShaping);
    Lab_minutes_elapsed->setFont(count);
}

bool frmKelvor::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::ApplicationPaletteChange)
        apply_system_colours();
    else if (event->type() == QEvent::ApplicationFontChange)
        fit_label_fonts();
    return handled;
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
