#pragma once

#include "GlobalShortcuts.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <set>
#include <vector>

namespace corvalle::test {

// The desktop portal's keyboard shortcuts as its documentation describes them,
// on a connection of its own: CreateSession and BindShortcuts answer through
// org.freedesktop.portal.Request's Response, which is sent before the method's
// reply (as a fast portal may), at the path made of the caller's name and its
// handle_token. A session's shortcuts are bound once; Close ends it.
class PortalStandIn final : public QDBusVirtualObject {
public:
    struct Binding {
        QString session;
        std::vector<ShortcutAction> actions;
    };

    // Claims the portal's name on `bus` and serves it; `refuse` answers every
    // CreateSession with response 2.
    explicit PortalStandIn(QDBusConnection bus, bool refuse = false);
    ~PortalStandIn() override;

    // Sends Activated for `id` in `session`.
    void activate(const QString& session, const QString& id);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // What callers asked, in order: "Register <app id>", "CreateSession", "BindShortcuts".
    QStringList calls;
    std::vector<QVariantMap> sessionOptions;
    std::vector<QString> sessions;
    std::vector<Binding> bindings;
    std::set<QString> closed;
    // Bindings asked for a session bound already, or closed or never made.
    int refusedBindings = 0;

private:
    void respond(const QDBusMessage& call, const QString& requestPath, uint response,
                 const QVariantMap& results);
    static QString senderElement(const QString& sender);

    QDBusConnection bus_;
    bool refuse_ = false;
    std::set<QString> bound_;
};

// A notification server that records every Notify and answers with an id,
// the one it replaces when it knows that one.
class NotificationStandIn final : public QDBusVirtualObject {
public:
    struct Notice {
        QString appName;
        uint replacesID = 0;
        QString summary;
        QString body;
        QVariantMap hints;
        int expireMs = 0;
        uint id = 0;
    };

    explicit NotificationStandIn(QDBusConnection bus);
    ~NotificationStandIn() override;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    std::vector<Notice> notices;

private:
    QDBusConnection bus_;
    uint lastID_ = 0;
};

} // namespace corvalle::test
