#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace corvalle {

// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop, so
// that the same teardown runs as for the Quit button. The handlers are restored
// when the object goes.
class UnixSignals final : public QObject {
    Q_OBJECT

public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;
    UnixSignals(const UnixSignals&) = delete;
    UnixSignals& operator=(const UnixSignals&) = delete;

    bool isInstalled() const { return installed_; }

signals:
    void quitRequested(int signalNumber);

private:
    void readSignal();

    int fds_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    bool installed_ = false;
    struct sigaction previous_[3] = {};
};

} // namespace corvalle
