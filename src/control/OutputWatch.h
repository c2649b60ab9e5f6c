#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>

namespace corvalle {

// Waits for the running instance to announce one output device (the mixer's
// OutputChanged signal), or for a timeout, running the event loop meanwhile.
class OutputWatch : public QObject {
    Q_OBJECT

public:
    // Starts listening at once, so an announcement that comes before wait() counts.
    OutputWatch(QDBusConnection bus, uint deviceID);
    ~OutputWatch() override;
    OutputWatch(const OutputWatch&) = delete;
    OutputWatch& operator=(const OutputWatch&) = delete;

    // True once the device has been announced; false when `timeout` passed first.
    bool wait(std::chrono::milliseconds timeout);
    bool isAnnounced() const { return announced_; }

private slots:
    void onOutputChanged(uint id, const QString& name);

signals:
    void announced();

private:
    QDBusConnection bus_;
    uint deviceID_;
    bool announced_ = false;
};

} // namespace corvalle
