#include "CommandLine.h"

#include <QCoreApplication>

// The command line as the corvalle binary runs it, for tests that need a process
// of its own.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    return corvalle::runCommandLine(QCoreApplication::arguments().mid(1));
}
