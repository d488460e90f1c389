#include "monthwindow/frm_month_stat.h"

#include "monthwindow/chart_canvas.h"
#include "monthwindow/month_chart.h"
#include "platform/store.h"
#include "platform/twips.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
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
    height_fit_.forget();
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
        height_fit_.fit(*y);
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

void frm_month_stat::show_buttons(bool rest_in_view) {
    Bou_down->setVisible(!rest_in_view);
    Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->setVisible(!rest_in_view);
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
    height_fit_.refit_when_framed();
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
    height_fit_.refit_when_framed();
}

void frm_month_stat::paintEvent(QPaintEvent* event) {
    Form_Paint();
    QPainter painter(this);
    if (!QRectF(QPointF(0, 0), picture_.deviceIndependentSize()).contains(QRectF(rect())))
        painter.fillRect(event->rect(), background());
    painter.drawImage(QPointF(0, 0), picture_);
    // The first paint follows the window's mapping, by which time it has been framed.
    height_fit_.refit_when_framed();
}

void frm_month_stat::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint()))
        Form_Click();
}

int frm_month_stat::outer_width_twips() const {
    const QMargins frame = monthwindow::frame_margins(*this);
    return to_twips(width() + frame.left() + frame.right());
}

int frm_month_stat::outer_height_twips() const {
    const QMargins frame = monthwindow::frame_margins(*this);
    return to_twips(height() + frame.top() + frame.bottom());
}

// The system's window background (the colour behind text in a window), which Qt calls Base,
// where black text reads on it.
QColor frm_month_stat::background() const {
    return monthwindow::chart_background(palette().color(QPalette::Base));
}

} // namespace kelvor
