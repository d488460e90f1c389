#include "barwindow/frm_kelvor.h"
#include "monthwindow/frm_month_stat.h"
#include "platform/dialogs.h"
#include "platform/store.h"
#include "session/store_names.h"

#include <exception>

namespace kelvor {

void frmKelvor::Affiche_month_stat_graphique() {
    try {
        if (services_.store.list(session::names::month_nb_session)) {
            if (!month_window_)
                month_window_ = new frm_month_stat(services_, this);
            month_window_->show_modal();
            return;
        }
    } catch (const std::exception&) {
        // A store that cannot be listed, or a window that cannot be made: the same answer as
        // for an empty history.
    }
    services_.dialogs.tell(this, QString(), QStringLiteral("Sorry, there is not yet months graph"));
}

} // namespace kelvor
