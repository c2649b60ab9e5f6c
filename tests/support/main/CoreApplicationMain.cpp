#include <QCoreApplication>
#include <QLocale>
#include <gtest/gtest.h>

// For tests of code that delivers through the application's event loop (the model,
// the bus): each test drives that loop while it waits.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    // Name ordering follows the user's locale; the C locale of a build machine
    // would not collate accented letters.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return RUN_ALL_TESTS();
}
