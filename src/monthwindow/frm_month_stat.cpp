#include "monthwindow/frm_month_stat.h"

#include "monthwindow/chart_canvas.h"
#include "monthwindow/height_fit.h"
#include "monthwindow/month_chart.h"
#include "platform/twips.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace kelvor {

namespace {

// Layout of a freshly loaded window, twips.
constexpr int client_width = 8685;
constexpr int client_height = 5790;
constexpr int button_width = 195;
constexpr int button_height = 255;
// How far each click on Bou_down lifts the chart, millimetres.
constexpr int scroll_step = 70;

int to_twips(int pixels) {
    return int(std::lround(platform::pixels_to_twips(pixels)));
}

QIcon month_window_icon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/month-window-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/month-window-32.png"), QSize(32, 32));
    return icon;
}

QPushButton* make_down_button(QWidget* window) {
    auto* button = new QPushButton(QStringLiteral("v"), window);
    button->setGeometry(0, 0, platform::twips_to_pixels(button_width),
                        platform::twips_to_pixels(button_height));
    return button;
}

} // namespace

frm_month_stat::frm_month_stat(const Services& services, QWidget* owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      services_(services) {
    setWindowTitle(QStringLiteral("Kelvor - Month Stat"));
    setWindowIcon(month_window_icon());
    setAttribute(Qt::WA_OpaquePaintEvent);

    // Same place, same caption: the focus button lies under Bou_down, first in the tab order,
    // and takes the focus back after every click so that Bou_down never keeps it.
    Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli = make_down_button(this);
    Bou_down = make_down_button(this);
    Bou_down->raise();
    setTabOrder(Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli, Bou_down);
    connect(Bou_down, &QPushButton::clicked, this, &frm_month_stat::Bou_down_Click);
}

frm_month_stat::~frm_month_stat() = default;

void frm_month_stat::show_modal() {
    load();
    exec();
}

void frm_month_stat::load() {
    picture_ = QImage();
    fitted_chart_end_.reset();
    // A window larger than every screen together shows nothing more, yet its picture and the
    // toolkit's copy of the window would each take its whole size in memory.
    setMaximumSize(screen()->virtualSize());
    resize(platform::twips_to_pixels(client_width), platform::twips_to_pixels(client_height));
    Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->setVisible(true);
    Bou_down->setVisible(true);
    Form_Load();
}

void frm_month_stat::Form_Load() {
    drawn_width = -1;
    drawn_height = -1;
    scroll_offset = 0;
}

void frm_month_stat::Form_Resize() {
    Form_Paint();
}

void frm_month_stat::Bou_down_Click() {
    scroll_offset -= scroll_step;
    drawn_width = -1;
    Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->setFocus();
    Form_Paint();
}

void frm_month_stat::Form_Click() {
    close();
}

void frm_month_stat::Form_Paint() {
    const int width = outer_width_twips();
    const int height = outer_height_twips();
    // The picture still holds the chart: a window that only got shorter is not redrawn. The
    // picture is checked too, since the window manager may size and frame the window in any
    // order around the drawings, and the theme may change under it.
    if (drawn_width == width && drawn_height >= height && picture_holds_view()) {
        drawn_height = height;
        return;
    }
    const bool fit_pending = drawn_width == -1;
    const std::optional<int> y = draw_picture(width);
    if (fit_pending && y)
        fit_height(*y);
    drawn_width = outer_width_twips();
    drawn_height = outer_height_twips();
}

QSize frm_month_stat::picture_size() const {
    // The screens may have changed since the window's maximum was set.
    return size().boundedTo(screen()->virtualSize()).expandedTo(QSize(1, 1));
}

bool frm_month_stat::picture_holds_view() const {
    const QSize needed = picture_size();
    return !picture_.isNull() && picture_.devicePixelRatio() == devicePixelRatioF() &&
           picture_.deviceIndependentSize().width() >= needed.width() &&
           picture_.deviceIndependentSize().height() >= needed.height();
}

std::optional<int> frm_month_stat::draw_picture(int window_width_twips) {
    const QSize size = picture_size();
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(int(std::ceil(size.width() * ratio)), int(std::ceil(size.height() * ratio)));
    if (picture_.size() != pixels || picture_.devicePixelRatio() != ratio) {
        picture_ = QImage(pixels, QImage::Format_RGB32);
        picture_.setDevicePixelRatio(ratio);
    }

    std::optional<int> y;
    try {
        monthwindow::PainterCanvas canvas(picture_, background());
        y = monthwindow::draw_month_charts(canvas, services_.store, services_.clock,
                                           window_width_twips, scroll_offset);
    } catch (const std::exception& error) {
        // A store that fails while the window is open leaves a partial picture and the
        // window's height as it was, never a crash.
        std::fprintf(stderr, "kelvor: cannot read the month records: %s\n", error.what());
    }
    update();
    return y;
}

void frm_month_stat::fit_height(int y) {
    // Setting the height raises a resize that draws once more, nested: that inner drawing
    // leaves the fit to this one.
    if (setting_height_)
        return;
    setting_height_ = true;
    fitted_chart_end_ = y;
    fitted_margins_ = frame_margins();
    const QRect outer = monthwindow::fitted_frame(y, geometry() + fitted_margins_, fitted_margins_,
                                                  available_area());
    const QRect client = outer - fitted_margins_;
    resize(client.size());
    if (QWindow* window = windowHandle()) {
        // The widget may already have the height while Qt's window holds the one of a window
        // manager's late answer, which a move alone would ask for again.
        window->resize(client.size());
        // The frame's place, which the window manager keeps whatever the frame turns out to be.
        window->setFramePosition(outer.topLeft());
    } else {
        move(outer.topLeft());
    }
    setting_height_ = false;

    // The height as the window got it, at the place asked for: the buttons stay exactly as long
    // as rows below the window remain to be brought into view.
    const bool rest_in_view =
        monthwindow::rest_of_chart_in_view(y, QRect(client.topLeft(), size()), available_area());
    Bou_down->setVisible(!rest_in_view);
    Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->setVisible(!rest_in_view);
}

bool frm_month_stat::framed_since_fit() const {
    return fitted_chart_end_ && frame_margins() != fitted_margins_;
}

// Runs in the events that come with a new frame; the window's geometry changes after them.
void frm_month_stat::refit_when_framed() {
    if (!framed_since_fit())
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isVisible() && framed_since_fit())
                fit_height(*fitted_chart_end_);
        },
        Qt::QueuedConnection);
}

void frm_month_stat::done(int result) {
    QDialog::done(result);
    picture_ = QImage();
}

void frm_month_stat::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // A new theme: the picture's background may no longer be the one to draw on.
    if (event->type() == QEvent::PaletteChange) {
        picture_ = QImage();
        update();
    }
}

void frm_month_stat::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    refit_when_framed();
}

void frm_month_stat::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Only a window manager holds a window to its maximum size; without one, the window goes
    // back to it before anything is drawn at the larger size.
    if (size() != size().boundedTo(maximumSize())) {
        resize(size());
        return;
    }
    Form_Resize();
    refit_when_framed();
}

void frm_month_stat::paintEvent(QPaintEvent* event) {
    Form_Paint();
    QPainter painter(this);
    if (!QRectF(QPointF(0, 0), picture_.deviceIndependentSize()).contains(QRectF(rect())))
        painter.fillRect(event->rect(), background());
    painter.drawImage(QPointF(0, 0), picture_);
    // The first paint follows the window's mapping, by which time it has been framed.
    refit_when_framed();
}

void frm_month_stat::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint()))
        Form_Click();
}

// Asked of the window itself: Qt's frame geometry of a widget is brought up to date only by
// the next move or resize.
QMargins frm_month_stat::frame_margins() const {
    return windowHandle() ? windowHandle()->frameMargins() : QMargins();
}

QRect frm_month_stat::available_area() const {
    return screen()->availableGeometry();
}

int frm_month_stat::outer_width_twips() const {
    const QMargins frame = frame_margins();
    return to_twips(width() + frame.left() + frame.right());
}

int frm_month_stat::outer_height_twips() const {
    const QMargins frame = frame_margins();
    return to_twips(height() + frame.top() + frame.bottom());
}

// The system's window background (the colour behind text in a window), which Qt calls Base,
// where black text reads on it.
QColor frm_month_stat::background() const {
    return monthwindow::chart_background(palette().color(QPalette::Base));
}

} // namespace kelvor
