#include <QApplication>
#include <gtest/gtest.h>

// Every suite runs inside a QApplication on the platform CTest chooses (offscreen).
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvor"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
