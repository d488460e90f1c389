#include "platform/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace kelvor::platform {

namespace {

// How a box lays out its text.
enum class Lines {
    as_they_are, // each line whole, as the report's lines are meant to be read
    wrapped,     // a message of a sentence or two, folded at a comfortable width
};

// A modal box inside the screen's available area whatever the scale. Its text is as wide as
// its longest line, or folded at a comfortable width; a text larger than the screen (a large
// scale on a small screen) scrolls inside the box rather than pushing it off the screen.
class TextBox final : public QDialog {
public:
    TextBox(QWidget* owner, const QString& title, const QString& text,
            QDialogButtonBox::StandardButtons buttons, QDialogButtonBox::StandardButton chosen,
            Lines lines = Lines::as_they_are,
            const std::vector<std::pair<QDialogButtonBox::StandardButton, QString>>& labels = {})
        : QDialog(owner) {
        setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
        // Before the bar's first event loop the application has no icon yet.
        setWindowIcon(QApplication::windowIcon().isNull() ? kelvor_icon()
                                                          : QApplication::windowIcon());
        auto* label = new QLabel(text);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(lines == Lines::wrapped);
        label->setObjectName(QStringLiteral("text"));
        auto* scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(label);
        scroll->setWidgetResizable(true);
        auto* box = new QDialogButtonBox(buttons);
        for (const auto& [button, label] : labels)
            box->button(button)->setText(label);
        connect(box, &QDialogButtonBox::clicked, this,
                [this, box](QAbstractButton* button) { done(box->standardButton(button)); });
        chosen_ = box->button(chosen);
        if (chosen_)
            chosen_->setDefault(true);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(scroll);
        layout->addWidget(box);
        QSize text_size = label->sizeHint();
        if (lines == Lines::wrapped) {
            const int comfortable = label->fontMetrics().averageCharWidth() * 72;
            label->setFixedWidth(std::min(comfortable, label->fontMetrics().size(0, text).width()));
            text_size = {label->width(), label->heightForWidth(label->width())};
        }
        fit(*scroll, text_size);
    }

protected:
    // Focus goes to the first button when a dialog shows; Enter must answer the chosen one.
    void showEvent(QShowEvent* event) override {
        QDialog::showEvent(event);
        if (chosen_)
            chosen_->setFocus();
    }

private:
    // The text's own size, or what the screen leaves of it, with room for the window
    // manager's frame, which is not known before the box is on the screen.
    void fit(QScrollArea& scroll, QSize text) {
        const QScreen* screen =
            parentWidget() ? parentWidget()->screen() : QApplication::primaryScreen();
        if (!screen)
            return;
        const int title_bar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
        const QSize frame(2 * title_bar / 3, 2 * title_bar);
        const QSize room =
            screen->availableGeometry().size() - frame - (sizeHint() - scroll.sizeHint());
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        QSize shown = text;
        if (text.width() > room.width())
            shown = {room.width(), std::min(text.height() + bar, room.height())};
        if (shown.height() > room.height())
            shown = {std::min(shown.width() + bar, room.width()), room.height()};
        if (shown == text) {
            scroll.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            scroll.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        }
        scroll.setMinimumSize(shown);
        scroll.setMaximumSize(text.expandedTo(shown) + QSize(bar, bar));
    }

    QPushButton* chosen_ = nullptr;
};

} // namespace

bool QtDialogs::ask_yes_no(QWidget* owner, const QString& title, const QString& text) {
    TextBox box(owner, title, text, QDialogButtonBox::Yes | QDialogButtonBox::No,
                QDialogButtonBox::No);
    return box.exec() == QDialogButtonBox::Yes;
}

void QtDialogs::tell(QWidget* owner, const QString& title, const QString& text) {
    TextBox box(owner, title, text, QDialogButtonBox::Ok, QDialogButtonBox::Ok);
    box.exec();
}

QIcon kelvor_icon() {
    // Read by Qt's own PNG reader: a reader that may choose offers every image file to all the
    // image plugins first, which loads each of them (a few hundred kilobytes of memory).
    QIcon built_in;
    for (const char* name : {":/icons/kelvor-16.png", ":/icons/kelvor-32.png"}) {
        QImageReader png(QString::fromLatin1(name), "png");
        png.setAutoDetectImageFormat(false);
        built_in.addPixmap(QPixmap::fromImage(png.read()));
    }
    return QIcon::fromTheme(QStringLiteral("kelvor"), built_in);
}

namespace {

// A box is shown only where there is a display to show it on; tests run offscreen.
bool can_show_boxes() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) &&
           QApplication::platformName() != QLatin1String("offscreen");
}

// The same text as on stderr, as a sentence of its own.
QString as_sentence(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

void to_stderr(const QString& text) {
    std::fprintf(stderr, "kelvor: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

void report_fatal(const QString& text) {
    to_stderr(text);
    if (can_show_boxes())
        TextBox(nullptr, QString(), as_sentence(text), QDialogButtonBox::Ok, QDialogButtonBox::Ok,
                Lines::wrapped)
            .exec();
}

void report_to_user(const QString& text) {
    report_fatal(text);
}

bool offer_recovery(const QString& text) {
    to_stderr(text);
    if (!can_show_boxes())
        return false;
    TextBox box(nullptr, QString(),
                as_sentence(text) + QStringLiteral("\n\nRecover: keep the damaged file aside and "
                                                   "go on with what can be read.\nQuit: leave "
                                                   "everything as it is."),
                QDialogButtonBox::Ok | QDialogButtonBox::Close, QDialogButtonBox::Ok,
                Lines::wrapped,
                {{QDialogButtonBox::Ok, QStringLiteral("&Recover")},
                 {QDialogButtonBox::Close, QStringLiteral("&Quit")}});
    return box.exec() == QDialogButtonBox::Ok;
}

} // namespace kelvor::platform
