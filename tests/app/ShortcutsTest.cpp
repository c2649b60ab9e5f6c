#include "Shortcuts.h"

#include "DesktopStandIns.h"
#include "ModelHarness.h"
#include "PrivateBus.h"

#include <QTest>
#include <gtest/gtest.h>
#include <memory>

// The keyboard shortcuts against stand-ins of the desktop portal and the
// notification server on a private bus, the model on the simulated audio system.
namespace corvalle::test {
namespace {

using namespace Qt::StringLiterals;

const QString kFirefox = u"org.mozilla.firefox"_s;
const QString kMusic = u"org.example.Music"_s;
const QString kRaiseFirefox = u"raise-app-org.mozilla.firefox"_s;

// Warnings and worse, as Qt's message handler sees them while one is installed.
class Warnings {
public:
    Warnings() { previous_ = qInstallMessageHandler(&Warnings::record); }
    ~Warnings() { qInstallMessageHandler(previous_); }
    Warnings(const Warnings&) = delete;
    Warnings& operator=(const Warnings&) = delete;

    static inline QStringList seen;

private:
    static void record(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg) {
            seen.append(text);
        }
    }
    QtMessageHandler previous_ = nullptr;
};

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus_.daemon.isRunning());
        world_.addApp(100, kFirefox, u"Firefox"_s, true);
        world_.addApp(201, kMusic, u"Music"_s, true);
        world_.responsible[201] = 200;
        world_.start();
        desktopBus_ = bus_.connect(u"desktop"_s);
        clientBus_ = bus_.connect(u"client"_s);
        Warnings::seen.clear();
    }

    void startShortcuts() {
        shortcuts_ =
            std::make_unique<Shortcuts>(*world_.model, clientBus_, [this] { return focused_; });
        QObject::connect(shortcuts_.get(), &Shortcuts::noticed,
                         [this](const QString& text) { noticed_.append(text); });
    }

    // Waits for the portal to have answered `count` bindings in all.
    bool waitForBindings(std::size_t count) {
        return QTest::qWaitFor(
            [&] {
                return portal_->bindings.size() == count &&
                       shortcuts_->portal().state() == GlobalShortcuts::State::bound;
            },
            5000);
    }

    // Presses `id` in the current session and waits for the notice it gives.
    bool press(const QString& id) {
        const auto before = noticed_.size();
        portal_->activate(portal_->bindings.back().session, id);
        return QTest::qWaitFor([&] { return noticed_.size() > before; }, 5000);
    }

    static QStringList ids(const PortalStandIn::Binding& binding) {
        QStringList result;
        for (const auto& action : binding.actions) {
            result.append(action.id);
        }
        return result;
    }

    PrivateBus bus_;
    ModelHarness world_;
    QDBusConnection desktopBus_{QString()};
    QDBusConnection clientBus_{QString()};
    std::unique_ptr<PortalStandIn> portal_;
    std::unique_ptr<NotificationStandIn> notifications_;
    std::optional<pid_t> focused_;
    std::unique_ptr<Shortcuts> shortcuts_;
    QStringList noticed_;
};

TEST_F(ShortcutsTest, TheFocusedApplicationsActionsAreDeclaredWithDescriptions) {
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    EXPECT_EQ(portal_->calls,
              QStringList({"Register org.corvalle.Corvalle", "CreateSession", "BindShortcuts"}));
    const QVariantMap& options = portal_->sessionOptions.front();
    EXPECT_FALSE(options.value("handle_token").toString().isEmpty());
    EXPECT_FALSE(options.value("session_handle_token").toString().isEmpty());
    const auto& binding = portal_->bindings.front();
    EXPECT_EQ(ids(binding), QStringList({"raise-focused", "lower-focused", "mute-focused"}));
    QStringList descriptions;
    for (const auto& action : binding.actions) {
        EXPECT_TRUE(action.description.contains("focused application"))
            << action.description.toStdString();
        descriptions.append(action.description);
    }
    descriptions.removeDuplicates();
    EXPECT_EQ(descriptions.size(), 3);
    EXPECT_EQ(shortcuts_->portal().boundIDs(), ids(binding));
    shortcuts_.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return portal_->closed.contains(binding.session); }, 5000))
        << "the session ends with the program";
}

// A session binds once: each new choice closes it and declares the whole set
// in a new one, also when choices come faster than the portal answers.
TEST_F(ShortcutsTest, ChosenApplicationsActionsAppearAndDisappear) {
    world_.store.setData(u"shortcutApps"_s, R"(["org.mozilla.firefox"])");
    world_.start();
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    EXPECT_EQ(ids(portal_->bindings.back()).size(), 6);
    EXPECT_TRUE(ids(portal_->bindings.back()).contains(kRaiseFirefox));

    world_.model->setHasShortcuts(true, u"exe:/usr/bin/mpv"_s);
    world_.model->setHasShortcuts(true, kMusic);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return ids(portal_->bindings.back()).size() == 12 &&
                   shortcuts_->portal().state() == GlobalShortcuts::State::bound;
        },
        5000));
    const auto& all = portal_->bindings.back();
    const auto action = [&](const QString& id) {
        const auto found = std::ranges::find(all.actions, id, &ShortcutAction::id);
        return found == all.actions.end() ? QString() : found->description;
    };
    EXPECT_EQ(action(u"lower-app-exe%3A%2Fusr%2Fbin%2Fmpv"_s), "Lower the volume of mpv");
    EXPECT_EQ(action(u"mute-app-org.example.Music"_s), "Mute or unmute Music");
    EXPECT_EQ(action(kRaiseFirefox), "Raise the volume of Firefox");

    world_.model->setHasShortcuts(false, kFirefox);
    world_.model->reset(kMusic);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return ids(portal_->bindings.back()).size() == 6 &&
                   shortcuts_->portal().state() == GlobalShortcuts::State::bound;
        },
        5000));
    EXPECT_FALSE(ids(portal_->bindings.back()).contains(kRaiseFirefox));
    EXPECT_EQ(portal_->refusedBindings, 0) << "no session is bound twice";
    for (std::size_t i = 0; i + 1 < portal_->sessions.size(); ++i) {
        EXPECT_TRUE(portal_->closed.contains(portal_->sessions[i])) << i;
    }
    EXPECT_FALSE(portal_->closed.contains(portal_->sessions.back()));
}

// Steps land on the wheel's 5 % grid within 0 to 400 %; a muted level stays
// as it is; mute toggles. Firefox's own keys and the focused ones alike.
TEST_F(ShortcutsTest, KeysStepTheLevelOnTheWheelsGridAndToggleMute) {
    world_.model->setHasShortcuts(true, kFirefox);
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    focused_ = 100;
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    const struct {
        const char* id;
        double volume;
        bool muted;
        double expectedVolume;
        bool expectedMuted;
    } cases[] = {
        {"raise-app-org.mozilla.firefox", 1.0, false, 1.05, false},
        {"raise-focused", 0.73, false, 0.75, false},
        {"lower-app-org.mozilla.firefox", 0.73, false, 0.70, false},
        {"lower-focused", 0.02, false, 0.0, false},
        {"lower-focused", 0.0, false, 0.0, false},
        {"raise-app-org.mozilla.firefox", 3.98, false, 4.0, false},
        {"raise-focused", 4.0, false, 4.0, false},
        {"raise-focused", 0.5, true, 0.5, true},
        {"lower-app-org.mozilla.firefox", 0.5, true, 0.5, true},
        {"mute-focused", 0.5, false, 0.5, true},
        {"mute-app-org.mozilla.firefox", 0.5, true, 0.5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " from " + std::to_string(c.volume));
        world_.model->setVolume(c.volume, kFirefox);
        if (world_.model->setting(kFirefox).muted != c.muted) {
            world_.model->toggleMute(kFirefox);
        }
        ASSERT_TRUE(press(QString::fromUtf8(c.id)));
        const AppSetting setting = world_.model->setting(kFirefox);
        EXPECT_NEAR(setting.volume, c.expectedVolume, 1e-9);
        EXPECT_EQ(setting.muted, c.expectedMuted);
        EXPECT_EQ(world_.model->setting(kMusic), AppSetting{}) << "only Firefox changes";
    }
    EXPECT_EQ(noticed_.back(), "Firefox: 50%");
}

// The window of Music's main process leads to the group its helper plays in.
TEST_F(ShortcutsTest, TheFocusedKeysChangeTheApplicationOfTheFocusedWindow) {
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    focused_ = 200;
    ASSERT_TRUE(press(u"lower-focused"_s));
    EXPECT_NEAR(world_.model->setting(kMusic).volume, 0.95, 1e-9);
    EXPECT_EQ(world_.model->setting(kFirefox), AppSetting{});
    EXPECT_EQ(noticed_.back(), "Music: 95%");

    focused_ = 555;
    ASSERT_TRUE(press(u"mute-focused"_s));
    EXPECT_EQ(noticed_.back(), "The focused application plays no sound");
    EXPECT_FALSE(world_.model->setting(kMusic).muted);
}

// Where the focus cannot be known (Wayland) the first press says so, and
// later ones say nothing; nothing changes.
TEST_F(ShortcutsTest, WithoutAKnownFocusTheFirstPressSaysSoAndNoneChangesAnything) {
    world_.model->setHasShortcuts(true, kFirefox);
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    notifications_ = std::make_unique<NotificationStandIn>(desktopBus_);
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    const QString session = portal_->bindings.back().session;
    for (const char* id : {"raise-focused", "lower-focused", "mute-focused"}) {
        portal_->activate(session, QString::fromUtf8(id));
    }
    portal_->activate(session, kRaiseFirefox);
    ASSERT_TRUE(QTest::qWaitFor([&] { return noticed_.size() == 2; }, 5000))
        << "a marker after the unknown ones";
    EXPECT_EQ(noticed_, QStringList({"No focused application is known here", "Firefox: 105%"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications_->notices.size() == 2; }, 5000));
    EXPECT_EQ(notifications_->notices.front().body, "No focused application is known here");
    EXPECT_EQ(world_.model->setting(kMusic), AppSetting{});
}

// Ids the portal was never given, from another session or one closed, change nothing.
TEST_F(ShortcutsTest, OddActivationsChangeNothing) {
    world_.model->setHasShortcuts(true, kFirefox);
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    focused_ = 100;
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    const QString first = portal_->bindings.back().session;
    world_.model->setHasShortcuts(true, kMusic);
    ASSERT_TRUE(waitForBindings(2));
    const QString current = portal_->bindings.back().session;
    const std::pair<QString, QString> odd[] = {
        {current, u"raise-app-org.unknown"_s},
        {current, u""_s},
        {current, u"raise-app-org.mozilla.firefox "_s},
        {current, u"RAISE-FOCUSED"_s},
        {first, kRaiseFirefox},
        {u"/org/freedesktop/portal/desktop/session/1_1/other"_s, kRaiseFirefox},
    };
    for (const auto& [session, id] : odd) {
        portal_->activate(session, id);
    }
    ASSERT_TRUE(press(u"mute-app-org.example.Music"_s)) << "a marker after the odd ones";
    EXPECT_EQ(noticed_, QStringList({"Music: Muted"}));
    EXPECT_EQ(world_.model->setting(kFirefox), AppSetting{});
}

// Presses faster than the server answers update one bubble with the latest level.
TEST_F(ShortcutsTest, RepeatedPressesUpdateOneTransientNotice) {
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    notifications_ = std::make_unique<NotificationStandIn>(desktopBus_);
    world_.model->setHasShortcuts(true, kFirefox);
    startShortcuts();
    ASSERT_TRUE(waitForBindings(1));
    for (int i = 0; i < 3; ++i) {
        portal_->activate(portal_->bindings.back().session, kRaiseFirefox);
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !notifications_->notices.empty() &&
                   notifications_->notices.back().body == "115%";
        },
        5000));
    ASSERT_TRUE(press(kRaiseFirefox));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return notifications_->notices.back().body == "120%"; }, 5000));
    const auto& notices = notifications_->notices;
    EXPECT_LE(notices.size(), 4U);
    EXPECT_EQ(notices.front().replacesID, 0U);
    for (const auto& notice : notices) {
        EXPECT_EQ(notice.id, notices.front().id) << "one bubble";
        EXPECT_EQ(notice.appName, "Corvalle");
        EXPECT_EQ(notice.summary, "Firefox");
        EXPECT_EQ(notice.hints.value("transient"), QVariant(true));
        EXPECT_EQ(notice.hints.value("urgency").toInt(), 0);
        EXPECT_EQ(notice.expireMs, LevelNotice::kShownMs);
    }
    for (std::size_t i = 1; i < notices.size(); ++i) {
        EXPECT_EQ(notices[i].replacesID, notices.front().id) << i;
    }
}

// No portal: nothing is bound and nothing warns; a portal that starts later
// gets the declarations. Without a notification server the tray's text alone tells.
TEST_F(ShortcutsTest, WithoutAPortalItStaysQuietUntilOneStarts) {
    const Warnings warnings;
    world_.model->setHasShortcuts(true, kFirefox);
    startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return shortcuts_->portal().state() == GlobalShortcuts::State::unavailable; }, 5000));
    portal_ = std::make_unique<PortalStandIn>(desktopBus_);
    ASSERT_TRUE(waitForBindings(1));
    ASSERT_TRUE(press(kRaiseFirefox));
    EXPECT_EQ(noticed_, QStringList({"Firefox: 105%"}));
    EXPECT_TRUE(Warnings::seen.isEmpty()) << Warnings::seen.join('\n').toStdString();
}

TEST_F(ShortcutsTest, APortalThatRefusesStaysQuiet) {
    const Warnings warnings;
    portal_ = std::make_unique<PortalStandIn>(desktopBus_, true);
    startShortcuts();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return shortcuts_->portal().state() == GlobalShortcuts::State::refused; }, 5000));
    EXPECT_TRUE(portal_->bindings.empty());
    EXPECT_TRUE(Warnings::seen.isEmpty()) << Warnings::seen.join('\n').toStdString();
    EXPECT_EQ(world_.model->setting(kFirefox), AppSetting{});
}

TEST(ShortcutIDs, KeysAreEncodedSoThatNoTwoShare) {
    const std::pair<std::optional<QString>, const char*> cases[] = {
        {std::nullopt, "mute-focused"},
        {u"org.mozilla.firefox"_s, "mute-app-org.mozilla.firefox"},
        {u"exe:/usr/bin/python3 -m pkg"_s, "mute-app-exe%3A%2Fusr%2Fbin%2Fpython3%20-m%20pkg"},
        {u"focused"_s, "mute-app-focused"},
        {u"pid:42"_s, "mute-app-pid%3A42"},
    };
    for (const auto& [key, id] : cases) {
        EXPECT_EQ(Shortcuts::shortcutID(Shortcuts::Action::mute, key), QString::fromUtf8(id));
    }
}

} // namespace
} // namespace corvalle::test
