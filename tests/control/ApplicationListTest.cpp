#include "ApplicationList.h"

#include "CommandFormat.h"
#include "ModelHarness.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

// Remembered volumes a hand-edited file may hold are listed at the level that plays.
TEST(ApplicationList, StoredVolumesOutOfRangeListAtTheAppliedLevelAndAreMarked) {
    test::ModelHarness world;
    world.store.setData(QStringLiteral("appSettings"), R"({"pid:1":{"volume":1e308,"muted":false},)"
                                                       R"("pid:2":{"volume":-5,"muted":true},)"
                                                       R"("pid:3":{"volume":2.5,"muted":false}})");
    world.start();
    const auto states = applicationStates(*world.model);
    ASSERT_EQ(states.size(), 3U);
    for (const ApplicationState& state : states) {
        EXPECT_EQ(applicationStateFromMap(toVariantMap(state)), state) << "as a client reads it";
    }
    EXPECT_EQ(applicationTable(states).toStdString(),
              "KEY    NAME   LEVEL  MUTED  PLAYING\n"
              "pid:1  pid:1  400%*  no     not running\n"
              "pid:2  pid:2    0%*  yes    not running\n"
              "pid:3  pid:3   250%  no     not running\n"
              "* the remembered level was out of range; the level shown is the one that plays\n");
    EXPECT_EQ(applicationLine(states[0]).toStdString(),
              "pid:1: 400% (the remembered level was out of range)");
    EXPECT_TRUE(applicationJson(states[1]).value(QStringLiteral("volumeOutOfRange")).toBool());
    EXPECT_EQ(applicationJson(states[1]).value(QStringLiteral("percent")).toDouble(), 0.0);
}

// Where an application plays gets a column once one was sent somewhere; the
// device's name comes from the audio system and, as the application's own name,
// reaches the terminal without its control and direction characters.
TEST(ApplicationList, AnOutputColumnAppearsOnceAnApplicationWasSentSomewhere) {
    ApplicationState player;
    player.key = QStringLiteral("org.player");
    player.name = QStringLiteral("Player");
    ApplicationState other = player;
    other.key = QStringLiteral("org.other");
    other.name = QStringLiteral("Other");
    EXPECT_FALSE(applicationTable({player, other}).contains(QStringLiteral("OUTPUT")));
    player.output = QStringLiteral("headphones");
    player.outputName = QStringLiteral("Head\x1b[2Jphones");
    EXPECT_EQ(applicationTable({player, other}).toStdString(),
              "KEY         NAME    LEVEL  MUTED  PLAYING      OUTPUT\n"
              "org.player  Player   100%  no     not running  Head\uFFFD[2Jphones\n"
              "org.other   Other    100%  no     not running  default\n");
    player.name = QStringLiteral("Evil\x1b]0;owned\x07\u202E") + QChar(0x9b) + "x";
    EXPECT_TRUE(
        applicationLine(player).startsWith("Evil\uFFFD]0;owned\uFFFD\uFFFD\uFFFDx (org.player)"))
        << applicationLine(player).toStdString();
}

} // namespace
} // namespace corvalle
