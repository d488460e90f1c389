#include "barwindow/frm_kelvor.h"

namespace kelvor {

void frmKelvor::Affiche_month_stat_graphique() {}

} // namespace kelvor
