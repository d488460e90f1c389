#pragma once

#include "platform/services.h"
#include "session/session_tracker.h"

#include <QWidget>

class QLabel;
class QTimer;

namespace kelvor {

class frm_month_stat;

// The bar: a borderless strip showing the minutes of the running session. Its life is the
// session's life: Form_Load starts the session, Form_Unload (on close) books it.
class frmKelvor : public QWidget {
    Q_OBJECT
public:
    explicit frmKelvor(const Services& services, QWidget* parent = nullptr);
    ~frmKelvor() override;

    // Loads what the labels' first font fit reads (the font database and the desktop's font),
    // so that it can be done while something else waits, before a bar exists.
    static void load_fonts();

    // Start-up registration, placement, showing, and the start sequence. Throws
    // platform::StoreError when the store refuses the start; nothing is written then.
    void Form_Load();

    // Books the session; later calls do nothing. Runs when the bar closes, and at exit when
    // the display went first.
    void Form_Unload();
    // The session could not be booked (the store stayed busy, failed, or was replaced): the
    // program ends with status 1, and the next start books it as crashed.
    bool booking_failed() const { return booking_failed_; }
    // The desktop's request to save: the running seconds are saved, the session goes on.
    void save_running_seconds();
    // A second start's request to see the bar: it comes to the front on the current workspace
    // and flashes, so that the user finds it.
    void present();

    // The usage report (right button).
    void Affiche_stat();
    // The month window, or a message when no month is recorded yet (middle button).
    void Affiche_month_stat_graphique();

    // Mouse handlers. Button: 1 left, 2 right, 4 middle (a move passes the buttons held, added
    // up). Shift: 1 Shift, 2 Ctrl, 4 Alt, added up. X, Y: the mouse in the receiving control's
    // own coordinates, in twips. The left button drags the bar; every release stores its place.
    void Form_MouseDown(qint16 Button, qint16 Shift, float X, float Y);
    void Form_MouseMove(qint16 Button, qint16 Shift, float X, float Y);
    void Form_MouseUp(qint16 Button, qint16 Shift, float X, float Y);
    // The labels have no behaviour of their own: a press on a label drags the bar too.
    void Label1_MouseDown(qint16 Button, qint16 Shift, float X, float Y);
    void Label1_MouseMove(qint16 Button, qint16 Shift, float X, float Y);
    void Label1_MouseUp(qint16 Button, qint16 Shift, float X, float Y);
    void Lab_minutes_elapsed_MouseDown(qint16 Button, qint16 Shift, float X, float Y);
    void Lab_minutes_elapsed_MouseMove(qint16 Button, qint16 Shift, float X, float Y);
    void Lab_minutes_elapsed_Mouseup(qint16 Button, qint16 Shift, float X, float Y);

    session::SessionTracker& session() { return session_; }

    QLabel* Label1 = nullptr;
    QLabel* Lab_minutes_elapsed = nullptr;
    QTimer* Timer1 = nullptr;

    // 1 from a left press until the next release.
    quint8 dragging = 0;
    // Where the left press was, in the pressed control's coordinates, twips.
    float x_down = 0;
    float y_down = 0;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Timer1_Timer();
    void Register_at_startup();
    void place_at(const session::WindowPlace& place);
    // The stored place, or the first-run place when the bar would be on no screen there.
    session::WindowPlace reachable(const session::WindowPlace& stored) const;
    session::WindowPlace current_place() const;
    void save_place();
    void apply_system_colours(bool inverted = false);
    void next_flash();
    void fit_label_fonts();

    Services services_;
    session::SessionTracker session_;
    // The month window's one instance, made at its first opening and kept for the run.
    frm_month_stat* month_window_ = nullptr;
    bool booking_failed_ = false;
    QTimer* flash_timer_ = nullptr;
    int flashes_left_ = 0;
};

} // namespace kelvor
