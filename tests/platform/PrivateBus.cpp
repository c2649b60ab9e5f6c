#include "PrivateBus.h"

#include <csignal>
#include <sys/prctl.h>

namespace corvalle::test {

PrivateBus::PrivateBus() : daemon_(std::make_unique<QProcess>()) {
    const std::string config =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:dir=" +
        dir_.path().string() +
        "</listen>\n"
        "  <auth>EXTERNAL</auth>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n";
    const auto configFile = dir_.writeFile("bus.conf", config);

    // The daemon goes with the test even if the test dies first.
    daemon_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    daemon_->start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + QString::fromStdString(configFile.string()),
                    QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!daemon_->waitForStarted(5000)) {
        return;
    }
    while (!daemon_->canReadLine() && daemon_->waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(daemon_->readLine().trimmed());
}

PrivateBus::~PrivateBus() {
    if (daemon_->state() != QProcess::NotRunning) {
        daemon_->terminate();
        if (!daemon_->waitForFinished(3000)) {
            daemon_->kill();
            daemon_->waitForFinished(3000);
        }
    }
}

} // namespace corvalle::test
