#include "GlobalShortcuts.h"

#include "DBusNames.h"
#include "Log.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <mutex>

namespace corvalle {

namespace {

const QString kHandleToken = QStringLiteral("handle_token");
const QString kSessionHandleToken = QStringLiteral("session_handle_token");
const QString kSessionHandle = QStringLiteral("session_handle");
const QString kShortcuts = QStringLiteral("shortcuts");
const QString kDescription = QStringLiteral("description");
const QString kResponse = QStringLiteral("Response");

QString name(const char* text) {
    return QString::fromLatin1(text);
}

QDBusMessage portalCall(const char* interface, const QString& method) {
    return QDBusMessage::createMethodCall(name(dbus::kPortalService), name(dbus::kPortalPath),
                                          name(interface), method);
}

// The session handle was first sent as a string, later as an object path.
QString objectPath(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    if (value.metaType() == QMetaType::fromType<QString>()) {
        return value.toString();
    }
    return {};
}

QStringList shortcutIDs(const QVariant& value) {
    QStringList ids;
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return ids;
    }
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(sa{sv})")) {
        return ids;
    }
    for (const PortalShortcut& shortcut : qdbus_cast<QList<PortalShortcut>>(argument)) {
        ids.append(shortcut.id);
    }
    return ids;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerPortalShortcutTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    });
}

GlobalShortcuts::GlobalShortcuts(QDBusConnection bus, QString appID, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), appID_(std::move(appID)) {
    registerPortalShortcutTypes();
    portalWatch_ = new QDBusServiceWatcher(name(dbus::kPortalService), bus_,
                                           QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(portalWatch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                portalOwnerChanged(oldOwner, newOwner);
            });
}

GlobalShortcuts::~GlobalShortcuts() {
    close();
}

void GlobalShortcuts::declare(const std::vector<ShortcutAction>& actions) {
    wanted_ = actions;
    switch (state_) {
    case State::idle:
    case State::refused:
        start();
        break;
    case State::creating:
        // The binding that follows takes the actions as they are then.
        break;
    case State::binding:
        dirty_ = true;
        break;
    case State::bound:
        forgetSession();
        start();
        break;
    case State::unavailable:
        break;
    }
}

void GlobalShortcuts::close() {
    stopExpecting();
    forgetSession();
    if (state_ != State::unavailable) {
        state_ = State::idle;
    }
}

void GlobalShortcuts::start() {
    if (!bus_.isConnected()) {
        giveUp(State::unavailable, QStringLiteral("there is no session bus"));
        return;
    }
    if (registered_) {
        createSession();
        return;
    }
    // A program that is not sandboxed names itself before its first portal
    // call; a portal without the registry (or a call after another) says no,
    // and the portal then tells the program by its process.
    registered_ = true;
    state_ = State::creating;
    QDBusMessage call = portalCall(dbus::kPortalRegistryInterface, QStringLiteral("Register"));
    call.setArguments({appID_, QVariantMap()});
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (finished->isError()) {
                    qCDebug(lcPlatform) << "the portal's registry did not take the program:"
                                        << finished->error().message();
                }
                if (state_ == State::creating && pendingStep_ == Step::none) {
                    createSession();
                }
            });
}

void GlobalShortcuts::createSession() {
    state_ = State::creating;
    const QString token = nextToken();
    const QVariantMap options{{kHandleToken, token}, {kSessionHandleToken, nextToken()}};
    // Subscribed before asking, as the portal may answer before the call returns.
    expectResponse(requestPath(token), Step::create);
    QDBusMessage call =
        portalCall(dbus::kGlobalShortcutsInterface, QStringLiteral("CreateSession"));
    call.setArguments({options});
    sendRequest(call, Step::create, State::unavailable);
}

void GlobalShortcuts::sendRequest(const QDBusMessage& call, Step step, State failed) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, step, failed](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (pendingStep_ != step) {
                    return;
                }
                if (reply.isError()) {
                    giveUp(failed, reply.error().message());
                } else if (reply.value().path() != pendingPath_) {
                    // An older portal chooses the request's path itself.
                    expectResponse(reply.value().path(), step);
                }
            });
}

void GlobalShortcuts::bind() {
    state_ = State::binding;
    dirty_ = false;
    sessionIDs_.clear();
    QList<PortalShortcut> shortcuts;
    for (const ShortcutAction& action : wanted_) {
        shortcuts.append({action.id, {{kDescription, action.description}}});
        sessionIDs_.append(action.id);
    }
    const QString token = nextToken();
    expectResponse(requestPath(token), Step::bind);
    QDBusMessage call =
        portalCall(dbus::kGlobalShortcutsInterface, QStringLiteral("BindShortcuts"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(session_)),
                       QVariant::fromValue(shortcuts), QString(),
                       QVariantMap{{kHandleToken, token}}});
    sendRequest(call, Step::bind, State::refused);
}

void GlobalShortcuts::onResponse(const QDBusMessage& message) {
    if (message.path() != pendingPath_ || message.signature() != QLatin1String("ua{sv}")) {
        return;
    }
    const QVariantList arguments = message.arguments();
    const Step step = pendingStep_;
    stopExpecting();
    const uint response = arguments.at(0).toUInt();
    const auto results = qdbus_cast<QVariantMap>(arguments.at(1));
    if (step == Step::create) {
        sessionCreated(response, results);
    } else if (step == Step::bind) {
        bindingAnswered(response, results);
    }
}

void GlobalShortcuts::sessionCreated(uint response, const QVariantMap& results) {
    if (response != 0) {
        giveUp(State::refused, QStringLiteral("the portal refused a session (%1)").arg(response));
        return;
    }
    session_ = objectPath(results.value(kSessionHandle));
    if (!session_.startsWith(QLatin1Char('/'))) {
        session_.clear();
        giveUp(State::refused, QStringLiteral("the portal gave no session"));
        return;
    }
    watchSession();
    if (wanted_.empty()) {
        forgetSession();
        state_ = State::idle;
        return;
    }
    bind();
}

void GlobalShortcuts::bindingAnswered(uint response, const QVariantMap& results) {
    if (response != 0) {
        giveUp(State::refused, QStringLiteral("the shortcuts were not bound (%1)").arg(response));
        return;
    }
    boundIDs_ = shortcutIDs(results.value(kShortcuts));
    state_ = State::bound;
    qCInfo(lcPlatform) << "the desktop bound" << boundIDs_.size() << "of" << sessionIDs_.size()
                       << "keyboard shortcuts";
    if (dirty_) {
        forgetSession();
        start();
    }
}

void GlobalShortcuts::onActivated(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (!message.signature().startsWith(QLatin1String("os")) || session_.isEmpty() ||
        objectPath(arguments.at(0)) != session_) {
        return;
    }
    const QString id = arguments.at(1).toString();
    if (!sessionIDs_.contains(id)) {
        qCDebug(lcPlatform) << "the portal activated a shortcut never declared:" << id;
        return;
    }
    emit activated(id);
}

void GlobalShortcuts::onSessionClosed(const QDBusMessage& message) {
    if (message.path() != session_) {
        return;
    }
    qCInfo(lcPlatform) << "the portal closed the keyboard shortcuts' session";
    stopExpecting();
    forgetSession(false);
    state_ = State::idle;
}

void GlobalShortcuts::portalOwnerChanged(const QString& oldOwner, const QString& newOwner) {
    if (!oldOwner.isEmpty()) {
        // Sessions and requests ended with the portal that held them.
        stopExpecting();
        forgetSession(false);
        registered_ = false;
        state_ = State::unavailable;
    }
    // A portal that starts for a call of ours is answering it already.
    if (!newOwner.isEmpty() && state_ == State::unavailable) {
        registered_ = false;
        state_ = State::idle;
        if (!wanted_.empty()) {
            start();
        }
    }
}

void GlobalShortcuts::giveUp(State state, const QString& why) {
    qCInfo(lcPlatform).noquote() << "keyboard shortcuts through the desktop portal: " + why;
    stopExpecting();
    forgetSession();
    state_ = state;
}

QString GlobalShortcuts::requestPath(const QString& token) const {
    QString sender = bus_.baseService();
    if (sender.startsWith(QLatin1Char(':'))) {
        sender.remove(0, 1);
    }
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return name(dbus::kPortalRequestPathPrefix) + sender + QLatin1Char('/') + token;
}

QString GlobalShortcuts::nextToken() {
    return QStringLiteral("corvalle%1").arg(++tokens_);
}

void GlobalShortcuts::expectResponse(const QString& path, Step step) {
    stopExpecting();
    pendingPath_ = path;
    pendingStep_ = step;
    bus_.connect(name(dbus::kPortalService), path, name(dbus::kPortalRequestInterface), kResponse,
                 this, SLOT(onResponse(QDBusMessage)));
}

void GlobalShortcuts::stopExpecting() {
    if (pendingPath_.isEmpty()) {
        return;
    }
    bus_.disconnect(name(dbus::kPortalService), pendingPath_, name(dbus::kPortalRequestInterface),
                    kResponse, this, SLOT(onResponse(QDBusMessage)));
    pendingPath_.clear();
    pendingStep_ = Step::none;
}

void GlobalShortcuts::watchSession() {
    bus_.connect(name(dbus::kPortalService), name(dbus::kPortalPath),
                 name(dbus::kGlobalShortcutsInterface), QStringLiteral("Activated"), this,
                 SLOT(onActivated(QDBusMessage)));
    bus_.connect(name(dbus::kPortalService), session_, name(dbus::kPortalSessionInterface),
                 QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
}

// Stops listening to the session, closing it first unless it is gone already.
void GlobalShortcuts::forgetSession(bool closeIt) {
    if (!session_.isEmpty()) {
        if (closeIt) {
            QDBusMessage call = QDBusMessage::createMethodCall(name(dbus::kPortalService), session_,
                                                               name(dbus::kPortalSessionInterface),
                                                               QStringLiteral("Close"));
            call.setAutoStartService(false);
            bus_.send(call);
        }
        bus_.disconnect(name(dbus::kPortalService), name(dbus::kPortalPath),
                        name(dbus::kGlobalShortcutsInterface), QStringLiteral("Activated"), this,
                        SLOT(onActivated(QDBusMessage)));
        bus_.disconnect(name(dbus::kPortalService), session_, name(dbus::kPortalSessionInterface),
                        QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
        session_.clear();
    }
    sessionIDs_.clear();
    boundIDs_.clear();
}

} // namespace corvalle
