#include "monthwindow/frm_month_stat.h"

#include "monthwindow/chart_canvas.h"
#include "monthwindow/month_chart.h"
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
    // The picture still holds the chart: a window that only got shorter is not redrawn.
    if (drawn_width == width && drawn_height >= height) {
        drawn_height = height;
        return;
    }
    const bool fit_pending = drawn_width == -1;
    const std::optional<int> y = draw_picture(width, fit_pending);
    if (fit_pending && y)
        fit_height(*y);
    drawn_width = outer_width_twips();
    drawn_height = outer_height_twips();
}

std::optional<int> frm_month_stat::draw_picture(int window_width_twips, bool fit_pending) {
    // The height fit may make the window taller before a resize can redraw it (on the first
    // showing it does not), so a drawing that is to be fitted covers the whole usable screen.
    QSize size = this->size();
    if (fit_pending && screen())
        size.setHeight(std::max(size.height(), screen()->availableGeometry().height()));
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(std::max(1, int(std::ceil(size.width() * ratio))),
                       std::max(1, int(std::ceil(size.height() * ratio))));
    if (picture_.size() != pixels) {
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
    // finds the height already set and does not set it again.
    if (!setting_height_) {
        setting_height_ = true;
        int wanted = (y + 2) * platform::twips_per_millimetre;
        // Never taller than the screen, so that Bou_down can bring every row into view.
        if (screen())
            wanted = std::min(wanted, to_twips(screen()->availableGeometry().height()));
        set_outer_height_twips(wanted);
        setting_height_ = false;
    }
    if (double(outer_height_twips()) / platform::twips_per_millimetre > y) {
        Bou_down->hide();
        Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli->hide();
    }
}

void frm_month_stat::done(int result) {
    QDialog::done(result);
    picture_ = QImage();
}

void frm_month_stat::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Form_Resize();
}

void frm_month_stat::paintEvent(QPaintEvent*) {
    Form_Paint();
    QPainter painter(this);
    if (!QRectF(QPointF(0, 0), picture_.deviceIndependentSize()).contains(QRectF(rect())))
        painter.fillRect(rect(), background());
    painter.drawImage(QPointF(0, 0), picture_);
}

void frm_month_stat::mouseReleaseEvent(QMouseEvent* event) {
    if (rect().contains(event->position().toPoint()))
        Form_Click();
}

int frm_month_stat::outer_width_twips() const {
    return to_twips(frameGeometry().width());
}

int frm_month_stat::outer_height_twips() const {
    return to_twips(frameGeometry().height());
}

void frm_month_stat::set_outer_height_twips(int twips) {
    const int frame = frameGeometry().height() - height();
    resize(width(), std::max(0, platform::twips_to_pixels(twips) - frame));
}

// The system's window background (the colour behind text in a window), which Qt calls Base,
// where black text reads on it.
QColor frm_month_stat::background() const {
    return monthwindow::chart_background(palette().color(QPalette::Base));
}

} // namespace kelvor
