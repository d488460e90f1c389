#include "barwindow/mouse_arguments.h"

#include "platform/twips.h"

#include <QMouseEvent>
#include <QWidget>
#include <initializer_list>

namespace kelvor {

namespace {

// 1, 2 and 4 for the first, second and third of `flags` that are set in `held`, added up.
template <typename Flags>
qint16 code_of(Flags held, std::initializer_list<typename Flags::enum_type> flags) {
    qint16 code = 0;
    qint16 bit = 1;
    for (const auto flag : flags) {
        if (held & flag)
            code |= bit;
        bit *= 2;
    }
    return code;
}

qint16 button_code(Qt::MouseButtons buttons) {
    return code_of(buttons, {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton});
}

qint16 shift_code(Qt::KeyboardModifiers modifiers) {
    return code_of(modifiers, {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier});
}

} // namespace

// The point is worked out from the cursor's screen position and the window's position as Qt
// holds it, the same position the handlers read Left and Top from, not taken from the window
// system's window-relative coordinates: during a drag a motion can still be reported relative
// to where the window was before the last move, and the bar would jitter away from the cursor.
MouseArguments mouse_arguments(const QMouseEvent& event, const QWidget& receiver) {
    const QWidget& window = *receiver.window();
    const QPointF origin = window.geometry().topLeft() + receiver.mapTo(&window, QPointF(0, 0));
    const QPointF at = event.globalPosition() - origin;
    const bool is_move = event.type() == QEvent::MouseMove;
    return {button_code(is_move ? event.buttons() : Qt::MouseButtons(event.button())),
            shift_code(event.modifiers()), float(platform::pixels_to_twips(at.x())),
            float(platform::pixels_to_twips(at.y()))};
}

} // namespace kelvor
