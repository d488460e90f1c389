#pragma once

#include "monthwindow/height_fit.h"
#include "platform/services.h"

#include <QDialog>
#include <QImage>
#include <optional>

class QPushButton;

namespace kelvor {

// The month window: two bar charts of the month records, drawn into a persistent picture
// that repaints the window. One instance serves the whole run; every opening loads it afresh.
class frm_month_stat : public QDialog {
    Q_OBJECT
public:
    frm_month_stat(const Services& services, QWidget* owner);
    ~frm_month_stat() override;

    // Loads the window from its layout and shows it modally; returns once it is closed.
    void show_modal();
    // The layout of a fresh window (size, both buttons visible), then Form_Load. show_modal
    // does this; a test may instead load and show the window without a modal loop.
    void load();

    void Form_Load();
    void Form_Resize();
    void Bou_down_Click();
    void Form_Click();
    void Form_Paint();

    // Every way of closing ends here: the picture goes with the window.
    void done(int result) override;

    QPushButton* Bou_down = nullptr;
    QPushButton* Bou_qui_sert_a_rien_juste_a_prendre_le_focus_pour_que_cela_soit_joli = nullptr;

    // Outer window width (twips) at the last full drawing; -1 asks for a full drawing and a
    // height fit.
    int drawn_width = -1;
    // Outer window height (twips) at the last drawing.
    int drawn_height = -1;
    // Vertical shift of the whole chart, millimetres.
    int scroll_offset = 0;

protected:
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The chart's final y, none when the store failed half-way.
    std::optional<int> draw_picture(int window_width_twips);
    // Whether the picture holds everything of the window that can be on the screen.
    bool picture_holds_view() const;
    QSize picture_size() const;
    // The buttons stay exactly as long as rows below the window remain to be brought into view.
    void show_buttons(bool rest_in_view);
    int outer_width_twips() const;
    int outer_height_twips() const;
    QColor background() const;

    Services services_;
    QImage picture_;
    monthwindow::HeightFit height_fit_{*this,
                                       [this](bool rest_in_view) { show_buttons(rest_in_view); }};
};

} // namespace kelvor
