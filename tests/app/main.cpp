// The window's tests run the real window, so a QApplication must exist before any test. They
// run on Qt's offscreen platform: no display is needed and nothing appears on screen.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brisal"));
    return RUN_ALL_TESTS();
}
