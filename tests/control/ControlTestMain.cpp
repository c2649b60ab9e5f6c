#include <QCoreApplication>
#include <QLocale>
#include <gtest/gtest.h>

// The model and the bus deliver through the application's event loop; the tests
// run that loop while they wait.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return RUN_ALL_TESTS();
}
