#include "LevelNotice.h"

#include "DBusNames.h"
#include "Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <utility>

namespace corvalle {

namespace {

// The urgency hint is a byte: 0 is low.
constexpr uchar kLowUrgency = 0;

} // namespace

LevelNotice::LevelNotice(QDBusConnection bus, QString appName, QString desktopEntry,
                         QObject* parent)
    : QObject(parent), bus_(std::move(bus)), appName_(std::move(appName)),
      desktopEntry_(std::move(desktopEntry)) {}

void LevelNotice::show(const QString& summary, const QString& body) {
    if (waiting_) {
        next_ = std::pair(summary, body);
        return;
    }
    send(summary, body);
}

void LevelNotice::send(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(dbus::kNotificationsService),
        QString::fromLatin1(dbus::kNotificationsPath),
        QString::fromLatin1(dbus::kNotificationsInterface), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("transient"), true},
                            {QStringLiteral("urgency"), QVariant::fromValue(kLowUrgency)},
                            {QStringLiteral("desktop-entry"), desktopEntry_}};
    call.setArguments({appName_, shownID_, desktopEntry_, summary, body, QStringList(), hints,
                       static_cast<int>(kShownMs)});
    waiting_ = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                waiting_ = false;
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    if (!failureLogged_) {
                        failureLogged_ = true;
                        qCInfo(lcPlatform).noquote()
                            << "no notification shows the levels keys change:"
                            << reply.error().message();
                    }
                } else {
                    shownID_ = reply.value();
                }
                if (next_) {
                    const auto [nextSummary, nextBody] = *std::exchange(next_, std::nullopt);
                    send(nextSummary, nextBody);
                }
            });
}

} // namespace corvalle
