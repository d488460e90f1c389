#include "barwindow/frm_kelvor.h"

namespace kelvor {

void frmKelvor::Affiche_stat() {}

} // namespace kelvor
