#include "barwindow/frm_kelvor.h"
#include "barwindow/minute_count.h"
#include "platform/system_colours.h"
#include "support/test_support.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using kelvor::frmKelvor;

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(QPoint p, std::ostream* os) {
    *os << '(' << p.x() << ", " << p.y() << ')';
}
inline void PrintTo(QRect r, std::ostream* os) {
    *os << r.width() << 'x' << r.height() << " at (" << r.x() << ", " << r.y() << ')';
}

namespace {

// A loaded and shown bar on the offscreen platform. The mouse goes through the bar's window,
// so Qt routes every event as on a desktop: to the control under the press, and to that same
// control until the release, wherever the release happens.
struct Bar {
    kelvor::testing::Fixture fx;
    std::unique_ptr<frmKelvor> bar;
    // With no month recorded, a right press shows the report (a question) and a middle press
    // the opener's message; the recording dialogs answer No at once.
    int reports() const {
        return int(std::count_if(fx.dialogs.shown.begin(), fx.dialogs.shown.end(),
                                 [](const auto& s) { return s.question; }));
    }
    int month_windows() const {
        return int(
            std::count_if(fx.dialogs.shown.begin(), fx.dialogs.shown.end(), [](const auto& s) {
                return s.text == QLatin1String("Sorry, there is not yet months graph");
            }));
    }

    Bar() { open(); }

    // A new run of the program on the same store.
    void open() {
        bar.reset();
        fx.temp.reopen();
        bar = std::make_unique<frmKelvor>(fx.services());
        bar->Form_Load();
        bar->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(bar.get()));
    }

    QWindow* window() { return bar->windowHandle(); }
    QPoint local(QPoint screen) { return window()->mapFromGlobal(screen); }
    void press(QPoint screen, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers modifiers = {}) {
        QTest::mousePress(window(), button, modifiers, local(screen));
    }
    void move(QPoint screen) { QTest::mouseMove(window(), local(screen)); }
    void release(QPoint screen, Qt::MouseButton button = Qt::LeftButton,
                 Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseRelease(window(), button, modifiers, local(screen));
    }
    QString stored(const char* key) { return fx.temp.get("Init", key); }
    // The place a release must store: the window's pixel position in twips.
    void expect_stored_at(QPoint pixels) {
        EXPECT_EQ(stored("Left"), QString::number(pixels.x() * 15));
        EXPECT_EQ(stored("Top"), QString::number(pixels.y() * 15));
    }
};

// The three controls a press can land on, with a point inside each, in its own coordinates.
struct Target {
    const char* name;
    QWidget* (*control)(frmKelvor&);
    QPoint point;
};
const Target targets[] = {
    {"strip", [](frmKelvor& b) -> QWidget* { return &b; }, {74, 7}},
    {"Label1", [](frmKelvor& b) -> QWidget* { return b.Label1; }, {9, 5}},
    {"Lab_minutes_elapsed", [](frmKelvor& b) -> QWidget* { return b.Lab_minutes_elapsed; }, {4, 8}},
};

QPoint on_screen(frmKelvor& bar, const Target& target) {
    return target.control(bar)->mapToGlobal(target.point);
}

} // namespace

TEST(BarWindow, LayoutIsTheBorderlessStripWithTaskBarEntry) {
    Bar b;
    frmKelvor& bar = *b.bar;
    EXPECT_EQ(bar.windowTitle(), "Kelvor");
    EXPECT_TRUE(bar.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(bar.isWindow());
    EXPECT_EQ(bar.windowType(), Qt::Window); // not a tool window: it keeps its task-bar entry
    EXPECT_EQ(bar.size(), QSize(112, 15));
    EXPECT_EQ(bar.minimumSize(), bar.maximumSize());
    EXPECT_EQ(bar.Label1->geometry(), QRect(4, 0, 69, 13));
    EXPECT_EQ(bar.Label1->text(), "Elapsed (min.):");
    EXPECT_EQ(bar.Lab_minutes_elapsed->geometry(), QRect(76, 0, 33, 13));
    EXPECT_EQ(bar.Lab_minutes_elapsed->text(), "0");
    // First run: Top 0 and Left 4000 twips, on the pixel that holds them.
    EXPECT_EQ(bar.pos(), QPoint(266, 0));
    EXPECT_EQ(bar.Timer1->interval(), 60000);
    EXPECT_TRUE(bar.Timer1->isActive());
    // The stopwatch, from the icon theme where Kelvor is installed, else built in.
    const QIcon icon = bar.windowIcon();
    EXPECT_TRUE(
        icon.name() == "kelvor" ||
        icon.pixmap(32).toImage() ==
            QImage(":/icons/kelvor-32.png").convertToFormat(icon.pixmap(32).toImage().format()));
}

// What the user sees: the desktop colour behind texts in the title-bar text colour, every
// character inside its label, whatever the theme's font and colours.
TEST(BarWindow, TextsAreDrawnWholeInTheTitleBarTextColour) {
    using kelvor::platform::system_colour;
    using kelvor::platform::SystemColour;
    const QPalette original_palette = QApplication::palette();
    const QFont original_font = QApplication::font();
    Bar b;
    frmKelvor& bar = *b.bar;

    // Pixels of the label drawn nearer the text colour than the background colour.
    auto text_pixels = [&](QLabel* label) {
        const QImage image = bar.grab().toImage();
        const QColor text = system_colour(SystemColour::title_bar_text);
        const QColor background = system_colour(SystemColour::desktop);
        auto distance = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue());
        };
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = label->x(); x < label->x() + label->width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                count += distance(pixel, text) < distance(pixel, background);
            }
        }
        return count;
    };
    // Fits, and no larger size on the half-point steps below the desktop's would.
    auto expect_fits = [](QLabel* label, qreal desktop_points) {
        const auto fits = [&](const QFont& font) {
            const QFontMetricsF metrics(font);
            return metrics.horizontalAdvance(label->text()) <= label->width() &&
                   metrics.height() <= label->height();
        };
        QFont larger = label->font();
        larger.setPointSizeF(larger.pointSizeF() + 0.5);
        EXPECT_TRUE(fits(label->font())) << label->text().toStdString();
        EXPECT_TRUE(larger.pointSizeF() > desktop_points || !fits(larger))
            << label->text().toStdString() << " could be " << larger.pointSizeF() << " pt";
    };

    struct Theme {
        const char* name;
        QColor highlight;
        QColor highlighted_text;
        int font_points;
    };
    const Theme themes[] = {
        {"default", original_palette.color(QPalette::Active, QPalette::Highlight),
         original_palette.color(QPalette::Active, QPalette::HighlightedText),
         original_font.pointSize()},
        {"dark, large font", QColor(0x2a, 0x82, 0xda), QColor(0xff, 0xff, 0xff), 14},
        {"light accent", QColor(0xb3, 0xd7, 0xff), QColor(0x10, 0x10, 0x10), 11},
    };
    for (const Theme& theme : themes) {
        SCOPED_TRACE(theme.name);
        QPalette palette = original_palette;
        palette.setColor(QPalette::Highlight, theme.highlight);
        palette.setColor(QPalette::HighlightedText, theme.highlighted_text);
        QApplication::setPalette(palette);
        QFont font = original_font;
        font.setPointSize(theme.font_points);
        QApplication::setFont(font);
        QCoreApplication::processEvents(); // the change reaches the widgets as posted events

        // The colours hold when the bar is not the active window, too.
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            EXPECT_EQ(bar.palette().color(group, QPalette::Window), theme.highlight);
            EXPECT_EQ(bar.Label1->palette().color(group, QPalette::WindowText),
                      theme.highlighted_text);
        }
        EXPECT_EQ(bar.grab().toImage().pixelColor(1, 14), theme.highlight);
        expect_fits(bar.Label1, theme.font_points);
        expect_fits(bar.Lab_minutes_elapsed, bar.Label1->font().pointSizeF());
        EXPECT_GT(text_pixels(bar.Label1), 20);
        EXPECT_GT(text_pixels(bar.Lab_minutes_elapsed), 2);

        // The count draws from glyphs laid out once, with the very pixels of a QLabel's.
        auto& count = static_cast<kelvor::MinuteCount&>(*bar.Lab_minutes_elapsed);
        QLabel label(&bar); // hidden, with the bar's colours
        label.setFont(count.font());
        label.setAutoFillBackground(true);
        label.resize(count.size());
        for (const char* digits : {"0", "7", "42", "1051200"}) {
            count.setText(digits);
            label.setText(digits);
            EXPECT_TRUE(count.draws_prepared_digits()) << digits;
            EXPECT_EQ(count.grab().toImage(), label.grab().toImage()) << digits;
        }
        count.setText("0");
    }
    QApplication::setPalette(original_palette);
    QApplication::setFont(original_font);
}

TEST(BarWindow, TimerTickShowsTheMinuteCountAndItFitsForYears) {
    Bar b;
    frmKelvor& bar = *b.bar;
    auto tick_once = [&] {
        const QString before = bar.Lab_minutes_elapsed->text();
        bar.Timer1->setSingleShot(true);
        bar.Timer1->start(1);
        for (int i = 0; i < 200 && bar.Lab_minutes_elapsed->text() == before; ++i)
            QTest::qWait(5);
    };
    EXPECT_EQ(bar.Lab_minutes_elapsed->text(), "0");
    b.fx.clock.advance(60);
    tick_once();
    EXPECT_EQ(bar.Lab_minutes_elapsed->text(), "1");
    EXPECT_EQ(b.fx.temp.get("Stat", "recupered_time"), "60");

    // A machine left on for two years without a log-off.
    bar.session().minutes_elapsed_current_session = 2 * 525600 - 1;
    tick_once();
    EXPECT_EQ(bar.Lab_minutes_elapsed->text(), "1051200");
    const QFontMetricsF metrics(bar.Lab_minutes_elapsed->font());
    EXPECT_LE(metrics.horizontalAdvance("1051200"), bar.Lab_minutes_elapsed->width());
}

TEST(BarWindow, LeftDragFromEveryControlMovesTheWindowByTheMouseTravel) {
    const Qt::KeyboardModifiers modifier_sets[] = {
        Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier,
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier};
    // Travel from the press, step by step; the last one far off the screen's top left.
    const QPoint path[] = {{1, 0}, {37, 4}, {25, 13}, {-400, -30}};

    for (const Target& target : targets) {
        for (const auto modifiers : modifier_sets) {
            SCOPED_TRACE(::testing::Message() << target.name << " modifiers " << modifiers.toInt());
            Bar b;
            frmKelvor& bar = *b.bar;
            const QPoint start = bar.pos();
            const QPoint pressed = on_screen(bar, target);

            b.press(pressed, Qt::LeftButton, modifiers);
            EXPECT_EQ(bar.dragging, 1);
            // The press is kept in the pressed control's own coordinates.
            EXPECT_EQ(bar.x_down, target.point.x() * 15.0f);
            EXPECT_EQ(bar.y_down, target.point.y() * 15.0f);
            EXPECT_EQ(bar.pos(), start);

            for (const QPoint travel : path) {
                b.move(pressed + travel);
                EXPECT_EQ(bar.pos(), start + travel) << travel.x() << "," << travel.y();
                // The pressed point stays under the mouse.
                EXPECT_EQ(on_screen(bar, target), pressed + travel);
            }
            EXPECT_EQ(b.stored("Top"), "<absent>");
            b.release(pressed + path[3], Qt::LeftButton, modifiers);
            EXPECT_EQ(bar.dragging, 0);
            b.expect_stored_at(start + path[3]);
            EXPECT_EQ(b.reports() + b.month_windows(), 0);

            // Once released, the mouse moves alone.
            b.move(pressed + path[3] + QPoint(5, 5));
            EXPECT_EQ(bar.pos(), start + path[3]);
        }
    }
}

// The pressed control keeps the mouse until the release, so a release far off the window
// (the mouse outran it) still reaches the bar: a drag ends with the window under the mouse,
// any other press leaves it in place, and both store the place.
TEST(BarWindow, ReleaseOutsideTheWindowEndsTheDragAndStoresThePlace) {
    const QPoint far_off(300, 80);
    for (const Target& target : targets) {
        for (const auto button : {Qt::LeftButton, Qt::RightButton}) {
            SCOPED_TRACE(::testing::Message() << target.name << " button " << int(button));
            Bar b;
            frmKelvor& bar = *b.bar;
            const QPoint pressed = on_screen(bar, target);
            const QPoint start = bar.pos();
            b.press(pressed, button);
            ASSERT_FALSE(bar.geometry().contains(pressed + far_off));
            b.release(pressed + far_off, button);
            EXPECT_EQ(bar.dragging, 0);
            const QPoint expected = button == Qt::LeftButton ? start + far_off : start;
            EXPECT_EQ(bar.pos(), expected);
            b.expect_stored_at(expected);
        }
    }
}

TEST(BarWindow, RightAndMiddlePressRouteWithoutMovingTheWindow) {
    struct Case {
        Qt::MouseButton button;
        int reports;
        int month_windows;
    };
    const Case cases[] = {
        {Qt::RightButton, 1, 0},
        {Qt::MiddleButton, 0, 1},
        {Qt::BackButton, 0, 0},
    };
    for (const Target& target : targets) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << target.name << " button " << int(c.button));
            Bar b;
            frmKelvor& bar = *b.bar;
            const QPoint start = bar.pos();
            const QPoint pressed = on_screen(bar, target);
            b.press(pressed, c.button, Qt::ShiftModifier);
            EXPECT_EQ(b.reports(), c.reports);
            EXPECT_EQ(b.month_windows(), c.month_windows);
            EXPECT_EQ(bar.dragging, 0);
            b.move(pressed + QPoint(20, 6));
            EXPECT_EQ(bar.pos(), start);
            // Every release stores the place, whatever the button.
            b.release(pressed + QPoint(20, 6), c.button);
            b.expect_stored_at(start);
        }
    }
}

TEST(BarWindow, ModalReportSwallowingTheReleaseLeavesTheDragOn) {
    // A left press, then a right press that opens the report; the left release goes to the
    // report, so the bar still drags and follows the mouse with no button held.
    Bar b;
    frmKelvor& bar = *b.bar;
    const QPoint start = bar.pos();
    const QPoint pressed = bar.mapToGlobal(QPoint(20, 14));
    bar.Form_MouseDown(1, 0, 20 * 15, 14 * 15);
    b.move(pressed + QPoint(3, -1));
    EXPECT_EQ(bar.pos(), start + QPoint(3, -1));
    QTest::mouseClick(b.window(), Qt::LeftButton, {}, b.local(pressed + QPoint(3, -1)));
    EXPECT_EQ(bar.dragging, 0);
    b.expect_stored_at(start + QPoint(3, -1));
}

// Partly off the screen is still within reach; on no screen at all the bar opens at the
// first-run place, and the store keeps the place it had until the next release.
TEST(BarWindow, ReopensWhereItWasLastReleasedUnlessOnNoScreen) {
    Bar b;
    EXPECT_EQ(b.bar->pos(), QPoint(266, 0));
    EXPECT_FALSE(b.fx.temp.store().list("Init").has_value()); // a start only reads the place
    struct Release {
        QPoint travel;
        bool reopens_there;
    };
    // The offscreen platform's screen is 800 x 800 pixels.
    const Release releases[] = {
        {{-300, 57}, true}, {{-1000, -200}, false}, {{3000, 2000}, false}, {{533, 799}, true}};
    for (const Release& release : releases) {
        SCOPED_TRACE(::testing::Message() << release.travel.x() << "," << release.travel.y());
        const QPoint start = b.bar->pos();
        const QPoint pressed = b.bar->Label1->mapToGlobal(QPoint(9, 5));
        b.press(pressed);
        b.move(pressed + release.travel);
        b.release(pressed + release.travel);
        b.open();
        EXPECT_EQ(b.bar->pos(), release.reopens_there ? start + release.travel : QPoint(266, 0));
        b.expect_stored_at(start + release.travel);
    }
    const auto init = b.fx.temp.store().list("Init");
    ASSERT_TRUE(init.has_value());
    ASSERT_EQ(init->size(), 2u);
    EXPECT_EQ(init->at(0).first, "Top"); // written first
    EXPECT_EQ(init->at(1).first, "Left");

    struct Stored {
        const char* left;
        const char* top;
        QPoint opens_at;
    };
    const Stored places[] = {{"1000000000", "0", {266, 0}},
                             {"491520", "0", {266, 0}}, // where X11 wraps to -32768
                             {"30000", "0", {266, 0}},  // on a wider screen only
                             {"-1680", "300", {266, 0}},
                             {"-1665", "11985", {-111, 799}}};
    for (const Stored& place : places) {
        SCOPED_TRACE(::testing::Message() << place.left << "," << place.top);
        b.fx.temp.store().write("Init", "Left", place.left);
        b.fx.temp.store().write("Init", "Top", place.top);
        b.open();
        EXPECT_EQ(b.bar->pos(), place.opens_at);
        EXPECT_EQ(b.stored("Left"), place.left);
        EXPECT_EQ(b.stored("Top"), place.top);
    }
}
