#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

// Widget tests run under the offscreen platform and drive the event loop by hand.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return RUN_ALL_TESTS();
}
