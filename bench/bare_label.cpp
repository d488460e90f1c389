// The start-up and memory baseline: the least a Qt Widgets program does to put a borderless
// strip of text on the screen. Kelvor's bar is measured against it.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Elapsed (min.): 0"), nullptr, Qt::FramelessWindowHint);
    label.show();
    return app.exec();
}
