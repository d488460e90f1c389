#include "barwindow/frm_kelvor.h"
#include "platform/dialogs.h"
#include "session/usage_report.h"

#include <cstdio>
#include <exception>

namespace kelvor {

namespace {
const QString report_title = QStringLiteral("Kelvor by Vorn/Quillet");
}

void frmKelvor::Affiche_stat() {
    // A store that fails now (disk full, file made read-only) must not take the session down
    // with it: the press does nothing, stderr says why, and the next tick saves again.
    try {
        const QString text = session::usage_report_text(session_);
        if (services_.dialogs.ask_yes_no(this, report_title, text))
            Affiche_month_stat_graphique();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvor: usage report: %s\n", error.what());
    }
}

} // namespace kelvor
