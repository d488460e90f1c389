#pragma once

#include "barwindow/services.h"
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

    // Start-up registration, the start sequence and placement. Throws platform::StoreError
    // when the store refuses the start; nothing is written then.
    void Form_Load();

    // The usage report (right button).
    void Affiche_stat();
    // The month window, or a message when no month is recorded yet (middle button).
    void Affiche_month_stat_graphique();

    session::SessionTracker& session() { return session_; }
    const Services& services() const { return services_; }

    QLabel* Label1 = nullptr;
    QLabel* Lab_minutes_elapsed = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Timer1_Timer();
    void Form_Unload();
    void Register_at_startup();
    void place_at(const session::WindowPlace& place);

    Services services_;
    session::SessionTracker session_;
    // The month window's one instance, made at its first opening and kept for the run.
    frm_month_stat* month_window_ = nullptr;
};

} // namespace kelvor
