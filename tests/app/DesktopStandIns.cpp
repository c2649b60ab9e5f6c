#include "DesktopStandIns.h"

#include "DBusNames.h"

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

namespace corvalle::test {

namespace {

QString name(const char* text) {
    return QString::fromLatin1(text);
}

} // namespace

PortalStandIn::PortalStandIn(QDBusConnection bus, bool refuse)
    : bus_(std::move(bus)), refuse_(refuse) {
    registerPortalShortcutTypes();
    bus_.registerVirtualObject(name(dbus::kPortalPath), this, QDBusConnection::SubPath);
    bus_.registerService(name(dbus::kPortalService));
}

PortalStandIn::~PortalStandIn() {
    bus_.unregisterService(name(dbus::kPortalService));
    bus_.unregisterObject(name(dbus::kPortalPath), QDBusConnection::UnregisterTree);
}

QString PortalStandIn::introspect(const QString& /*path*/) const {
    return {};
}

QString PortalStandIn::senderElement(const QString& sender) {
    QString element = sender.mid(1);
    element.replace(QLatin1Char('.'), QLatin1Char('_'));
    return element;
}

bool PortalStandIn::handleMessage(const QDBusMessage& message,
                                  const QDBusConnection& /*connection*/) {
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    const QString caller = senderElement(message.service());
    if (message.interface() == name(dbus::kPortalRegistryInterface) && member == "Register") {
        calls.append(QStringLiteral("Register ") + arguments.value(0).toString());
        bus_.send(message.createReply());
        return true;
    }
    if (message.interface() == name(dbus::kPortalSessionInterface) && member == "Close") {
        closed.insert(message.path());
        bus_.send(message.createReply());
        return true;
    }
    if (message.interface() != name(dbus::kGlobalShortcutsInterface)) {
        return false;
    }
    calls.append(member);
    if (member == "CreateSession" && message.signature() == "a{sv}") {
        const auto options = qdbus_cast<QVariantMap>(arguments.at(0));
        sessionOptions.push_back(options);
        const QString request = name(dbus::kPortalRequestPathPrefix) + caller + QLatin1Char('/') +
                                options.value("handle_token").toString();
        const QString session = name(dbus::kPortalSessionPathPrefix) + caller + QLatin1Char('/') +
                                options.value("session_handle_token").toString();
        if (refuse_) {
            respond(message, request, 2, {});
            return true;
        }
        sessions.push_back(session);
        // A string, as the portal has always sent it.
        respond(message, request, 0, {{QStringLiteral("session_handle"), session}});
        return true;
    }
    if (member == "BindShortcuts" && message.signature() == "oa(sa{sv})sa{sv}") {
        const QString session = arguments.at(0).value<QDBusObjectPath>().path();
        const auto shortcuts = qdbus_cast<QList<PortalShortcut>>(arguments.at(1));
        const auto options = qdbus_cast<QVariantMap>(arguments.at(3));
        const QString request = name(dbus::kPortalRequestPathPrefix) + caller + QLatin1Char('/') +
                                options.value("handle_token").toString();
        if (bound_.contains(session) || closed.contains(session) ||
            std::ranges::find(sessions, session) == sessions.end()) {
            ++refusedBindings;
            bus_.send(message.createErrorReply(QDBusError::AccessDenied,
                                               QStringLiteral("bound once already")));
            return true;
        }
        bound_.insert(session);
        Binding binding{session, {}};
        QList<PortalShortcut> answered;
        for (const PortalShortcut& shortcut : shortcuts) {
            binding.actions.push_back(
                {shortcut.id, shortcut.properties.value("description").toString()});
            answered.append({shortcut.id,
                             {{"description", shortcut.properties.value("description")},
                              {"trigger_description", QStringLiteral("Meta+F1")}}});
        }
        bindings.push_back(std::move(binding));
        respond(message, request, 0,
                {{QStringLiteral("shortcuts"), QVariant::fromValue(answered)}});
        return true;
    }
    bus_.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("not so")));
    return true;
}

void PortalStandIn::respond(const QDBusMessage& call, const QString& requestPath, uint response,
                            const QVariantMap& results) {
    QDBusMessage signal = QDBusMessage::createSignal(
        requestPath, name(dbus::kPortalRequestInterface), QStringLiteral("Response"));
    signal.setArguments({response, results});
    bus_.send(signal);
    bus_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(requestPath))));
}

void PortalStandIn::activate(const QString& session, const QString& id) {
    QDBusMessage signal =
        QDBusMessage::createSignal(name(dbus::kPortalPath), name(dbus::kGlobalShortcutsInterface),
                                   QStringLiteral("Activated"));
    signal.setArguments({QVariant::fromValue(QDBusObjectPath(session)), id,
                         QVariant::fromValue(qulonglong{1234}), QVariantMap()});
    bus_.send(signal);
}

NotificationStandIn::NotificationStandIn(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.registerVirtualObject(name(dbus::kNotificationsPath), this);
    bus_.registerService(name(dbus::kNotificationsService));
}

NotificationStandIn::~NotificationStandIn() {
    bus_.unregisterService(name(dbus::kNotificationsService));
    bus_.unregisterObject(name(dbus::kNotificationsPath));
}

QString NotificationStandIn::introspect(const QString& /*path*/) const {
    return {};
}

bool NotificationStandIn::handleMessage(const QDBusMessage& message,
                                        const QDBusConnection& /*connection*/) {
    if (message.member() != "Notify" || message.signature() != "susssasa{sv}i") {
        return false;
    }
    const QVariantList arguments = message.arguments();
    Notice notice;
    notice.appName = arguments.at(0).toString();
    notice.replacesID = arguments.at(1).toUInt();
    notice.summary = arguments.at(3).toString();
    notice.body = arguments.at(4).toString();
    notice.hints = qdbus_cast<QVariantMap>(arguments.at(6));
    notice.expireMs = arguments.at(7).toInt();
    const bool known = notice.replacesID != 0 && notice.replacesID <= lastID_;
    notice.id = known ? notice.replacesID : ++lastID_;
    notices.push_back(notice);
    bus_.send(message.createReply(notice.id));
    return true;
}

} // namespace corvalle::test
