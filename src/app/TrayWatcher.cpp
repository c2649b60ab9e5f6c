#include "TrayWatcher.h"

#include "X11Desktop.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace corvalle {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// The first answer decides how start-up goes; a watcher that hangs must not hold
// the program up for long.
constexpr int kFirstAnswerTimeoutMs = 1000;

QDBusMessage hostRegisteredQuestion() {
    QDBusMessage question = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    question << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    return question;
}

// A watcher that cannot say whether a host is registered is taken at its word
// that it exists: a watcher without a host is rare, a tray never used is not.
bool hostRegistered(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown");
    }
    const QVariant value = qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
    return value.typeId() == QMetaType::Bool ? value.toBool() : true;
}

} // namespace

TrayWatcher::TrayWatcher(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    if (bus_.isConnected()) {
        auto* watcher = new QDBusServiceWatcher(kWatcherService, bus_,
                                                QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    watcherOwnerChanged(newOwner);
                });
        for (const char* signal :
             {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
            bus_.connect(QString(), kWatcherPath, kWatcherInterface, QString::fromLatin1(signal),
                         this, SLOT(hostsChanged()));
        }
        if (bus_.interface() && bus_.interface()->isServiceRegistered(kWatcherService)) {
            statusNotifierHost_ = hostRegistered(
                bus_.call(hostRegisteredQuestion(), QDBus::Block, kFirstAnswerTimeoutMs));
        }
    }
    x11_ = X11TrayManagerWatch::create();
    if (x11_) {
        xembedTray_ = x11_->isPresent();
        connect(x11_.get(), &X11TrayManagerWatch::presenceChanged, this,
                &TrayWatcher::setXEmbedTray);
    }
}

TrayWatcher::~TrayWatcher() = default;

void TrayWatcher::hostsChanged() {
    askWhetherAHostIsRegistered();
}

void TrayWatcher::watcherOwnerChanged(const QString& newOwner) {
    if (newOwner.isEmpty()) {
        ++question_;
        setStatusNotifierHost(false);
        return;
    }
    askWhetherAHostIsRegistered();
}

void TrayWatcher::askWhetherAHostIsRegistered() {
    const quint64 question = ++question_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(hostRegisteredQuestion()), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, question](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (question == question_) {
                    setStatusNotifierHost(hostRegistered(call->reply()));
                }
            });
}

void TrayWatcher::setStatusNotifierHost(bool present) {
    const bool before = isAvailable();
    statusNotifierHost_ = present;
    if (isAvailable() != before) {
        emit availabilityChanged(isAvailable());
    }
}

void TrayWatcher::setXEmbedTray(bool present) {
    const bool before = isAvailable();
    xembedTray_ = present;
    if (isAvailable() != before) {
        emit availabilityChanged(isAvailable());
    }
}

} // namespace corvalle
