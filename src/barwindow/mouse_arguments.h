#pragma once

#include <QtGlobal>

class QMouseEvent;
class QWidget;

namespace kelvor {

// The four arguments every mouse handler of the bar takes, as frm_kelvor.h tells them.
struct MouseArguments {
    qint16 Button;
    qint16 Shift;
    float X;
    float Y;
};

// The arguments of `event` for the handlers of `receiver`, a control of the bar.
MouseArguments mouse_arguments(const QMouseEvent& event, const QWidget& receiver);

} // namespace kelvor
