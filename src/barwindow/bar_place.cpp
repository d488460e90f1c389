// Where the bar is: placed from its stored place, kept within reach of the screens, and stored
// at every release.

#include "barwindow/frm_kelvor.h"
#include "platform/display.h"
#include "platform/store.h"
#include "platform/twips.h"
#include "session/numbers.h"
#include "session/store_names.h"

#include <QGuiApplication>
#include <QScreen>

namespace kelvor {

// Where the compositor places windows, the bar neither asks for a place nor stores one: it
// would be told nothing, and read a position it does not have.
void frmKelvor::place_at(const session::WindowPlace& place) {
    if (platform::can_place_windows())
        move(platform::twips_to_pixels(place.left), platform::twips_to_pixels(place.top));
}

// A place stored on a larger desktop, or edited by hand, could leave the bar out of reach for
// good: with no way to drag it back, it would never again be released anywhere else.
session::WindowPlace frmKelvor::reachable(const session::WindowPlace& stored) const {
    const QRect strip(platform::twips_to_pixels(stored.left), platform::twips_to_pixels(stored.top),
                      width(), height());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(strip))
            return stored;
    }
    return {};
}

session::WindowPlace frmKelvor::current_place() const {
    return {.top = float(platform::pixels_to_twips(y())),
            .left = float(platform::pixels_to_twips(x()))};
}

void frmKelvor::save_place() {
    if (!platform::can_place_windows())
        return;
    const session::WindowPlace place = current_place();
    services_.store.transaction([&] {
        services_.store.write(session::names::init, session::names::top,
                              session::real_number_text(place.top));
        services_.store.write(session::names::init, session::names::left,
                              session::real_number_text(place.left));
    });
}

} // namespace kelvor
