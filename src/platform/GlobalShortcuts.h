#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

class QDBusServiceWatcher;

namespace corvalle {

// One shortcut as the portal's BindShortcuts takes it and its Response gives it
// back: an id and its properties ("description", "trigger_description").
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);
// Makes the type known to QtDBus; safe to call more than once.
void registerPortalShortcutTypes();

// An action the user may bind a key to: its id and what the desktop's dialog shows.
struct ShortcutAction {
    QString id;
    QString description;

    friend bool operator==(const ShortcutAction&, const ShortcutAction&) = default;
};

// Actions declared through the desktop's GlobalShortcuts portal, which works on
// X11 and Wayland alike: Corvalle only names them, the user binds the keys in the
// desktop's own settings. A session is made on the first declare(); since a
// session's shortcuts can be bound only once, every later declaration closes it
// and makes a new one. Without the portal, or when it refuses, nothing is bound
// and the reason is logged, never shown. The session is closed when the object goes.
class GlobalShortcuts final : public QObject {
    Q_OBJECT

public:
    enum class State {
        idle,        // no session: nothing declared yet, or the portal closed it
        creating,    // CreateSession asked
        binding,     // BindShortcuts asked
        bound,       // the portal answered the binding
        refused,     // the portal or the user said no; a new declaration tries again
        unavailable, // no portal or no GlobalShortcuts; tried again when a portal starts
    };

    // `appID` names the program to the portal's registry, as its desktop file does.
    GlobalShortcuts(QDBusConnection bus, QString appID, QObject* parent = nullptr);
    ~GlobalShortcuts() override;
    GlobalShortcuts(const GlobalShortcuts&) = delete;
    GlobalShortcuts& operator=(const GlobalShortcuts&) = delete;

    // Declares `actions` in place of what was declared before.
    void declare(const std::vector<ShortcutAction>& actions);
    State state() const { return state_; }
    // The ids the portal said are bound, from its latest answer.
    const QStringList& boundIDs() const { return boundIDs_; }
    // Ends the session; calling it again does nothing.
    void close();

signals:
    // One of the declared actions' keys was pressed.
    void activated(const QString& id);

private slots:
    void onResponse(const QDBusMessage& message);
    void onActivated(const QDBusMessage& message);
    void onSessionClosed(const QDBusMessage& message);

private:
    enum class Step { none, create, bind };

    void start();
    void createSession();
    void bind();
    // Sends the portal request `call` of `step`; its reply, an error (which
    // leaves the state `failed`) or the request's path, is taken while that step
    // is still awaited.
    void sendRequest(const QDBusMessage& call, Step step, State failed);
    void sessionCreated(uint response, const QVariantMap& results);
    void bindingAnswered(uint response, const QVariantMap& results);
    void portalOwnerChanged(const QString& oldOwner, const QString& newOwner);
    void giveUp(State state, const QString& why);
    // Where the portal will answer the request made with `token`.
    QString requestPath(const QString& token) const;
    QString nextToken();
    void expectResponse(const QString& path, Step step);
    void stopExpecting();
    void watchSession();
    void forgetSession(bool closeIt = true);

    QDBusConnection bus_;
    QString appID_;
    QDBusServiceWatcher* portalWatch_ = nullptr;
    std::vector<ShortcutAction> wanted_;
    State state_ = State::idle;
    bool registered_ = false;
    // Declared again while a binding was on its way.
    bool dirty_ = false;
    QString pendingPath_;
    Step pendingStep_ = Step::none;
    QString session_;
    // The ids this session was asked to bind, and those the portal bound.
    QStringList sessionIDs_;
    QStringList boundIDs_;
    unsigned tokens_ = 0;
};

} // namespace corvalle

Q_DECLARE_METATYPE(corvalle::PortalShortcut)
