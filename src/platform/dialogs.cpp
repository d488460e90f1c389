#include "platform/dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

namespace kelvor::platform {

bool QtDialogs::ask_yes_no(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::tell(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? QApplication::applicationName() : title,
                    text, QMessageBox::Ok, owner);
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
