#pragma once

#include <QColor>
#include <QGuiApplication>
#include <QPalette>

// The windows name some colours by the window system's colour number rather than by value, so
// that they follow the user's theme. Qt has no desktop or title-bar roles; these are the
// closest roles of the desktop's palette, chosen in pairs that every theme keeps readable.
namespace kelvor::platform {

enum class SystemColour {
    // Behind the bar's texts. Qt's styles paint an active title bar with Highlight under
    // HighlightedText, so the two make a title-bar look that stays legible on light and dark
    // themes alike.
    desktop = 1,
    // The bar's texts, on `desktop`.
    title_bar_text = 9,
};

inline QPalette::ColorRole palette_role(SystemColour colour) {
    switch (colour) {
    case SystemColour::desktop:
        return QPalette::Highlight;
    case SystemColour::title_bar_text:
        return QPalette::HighlightedText;
    }
    return QPalette::NoRole;
}

// The colour as the desktop's palette shows it in an active window; a system colour does not
// change with the focus, so it is the same for a window that is not active.
inline QColor system_colour(SystemColour colour) {
    return QGuiApplication::palette().color(QPalette::Active, palette_role(colour));
}

} // namespace kelvor::platform
