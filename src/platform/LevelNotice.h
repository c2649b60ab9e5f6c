#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

namespace corvalle {

// A short bubble from the desktop's notification server that confirms a level a
// key changed, without taking the focus: transient, of low urgency, gone after
// kShownMs. Each notice replaces the one before, so that repeated presses update
// one bubble; a notice asked for while the server has not yet answered the
// previous one waits for that answer and then shows the latest text only.
// Without a server nothing is shown, and that is logged once.
class LevelNotice final : public QObject {
    Q_OBJECT

public:
    static constexpr int kShownMs = 1500;

    // `appName` and `desktopEntry` (also the icon's name) say whose notice it is.
    LevelNotice(QDBusConnection bus, QString appName, QString desktopEntry,
                QObject* parent = nullptr);

    void show(const QString& summary, const QString& body);

private:
    void send(const QString& summary, const QString& body);

    QDBusConnection bus_;
    QString appName_;
    QString desktopEntry_;
    uint shownID_ = 0;
    bool waiting_ = false;
    bool failureLogged_ = false;
    std::optional<std::pair<QString, QString>> next_;
};

} // namespace corvalle
