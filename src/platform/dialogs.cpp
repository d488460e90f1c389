#include "platform/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

namespace kelvor::platform {

namespace {

// A modal box that shows its text line for line, as the report's lines are meant to be read:
// as wide as its longest line, never wrapping one, and inside the screen's available area
// whatever the scale. A text larger than the screen (a large scale on a small screen)
// scrolls inside the box rather than pushing it off the screen.
class TextBox final : public QDialog {
public:
    TextBox(QWidget* owner, const QString& title, const QString& text,
            QDialogButtonBox::StandardButtons buttons, QDialogButtonBox::StandardButton chosen)
        : QDialog(owner) {
        setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
        auto* label = new QLabel(text);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        label->setObjectName(QStringLiteral("text"));
        auto* scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(label);
        scroll->setWidgetResizable(true);
        auto* box = new QDialogButtonBox(buttons);
        connect(box, &QDialogButtonBox::clicked, this,
                [this, box](QAbstractButton* button) { done(box->standardButton(button)); });
        chosen_ = box->button(chosen);
        if (chosen_)
            chosen_->setDefault(true);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(scroll);
        layout->addWidget(box);
        fit(*scroll, label->sizeHint());
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

void report_fatal(const QString& text) {
    std::fprintf(stderr, "kelvor: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) &&
        QApplication::platformName() != QLatin1String("offscreen")) {
        QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text,
                        QMessageBox::Ok);
        box.exec();
    }
}

} // namespace kelvor::platform
