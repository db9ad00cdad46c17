// The window's tests need a QApplication before any test; Qt's offscreen platform needs no
// display.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisal"));
    return RUN_ALL_TESTS();
}
