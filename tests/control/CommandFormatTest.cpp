#include "CommandFormat.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

ApplicationState application(QString key, QString name, double volume, bool muted, bool playing,
                             bool running) {
    ApplicationState state;
    state.key = std::move(key);
    state.name = std::move(name);
    state.volume = volume;
    state.muted = muted;
    state.playing = playing;
    state.hasProcesses = running;
    return state;
}

TEST(CommandFormat, TerminalControlAndDirectionCharactersAreNeutralised) {
    const auto hostile = QStringLiteral("Evil\x1b]0;owned\x07\u202E") + QChar(0x9b) + "x";
    const auto line = applicationLine(application("org.evil", hostile, 1.0, false, false, true));
    for (const auto character : line) {
        EXPECT_NE(character.category(), QChar::Other_Control) << line.toStdString();
        EXPECT_NE(character.category(), QChar::Other_Format) << line.toStdString();
    }
    EXPECT_TRUE(line.startsWith("Evil\uFFFD]0;owned\uFFFD\uFFFD\uFFFDx (org.evil)"))
        << line.toStdString();
    EXPECT_EQ(printable(QStringLiteral("Caf\u00e9 \u65e5\u672c")),
              QStringLiteral("Caf\u00e9 \u65e5\u672c"));
}

TEST(CommandFormat, LineShowsKeyOnceWhenItIsTheName) {
    EXPECT_EQ(applicationLine(application("pid:999", "pid:999", 0.25, true, false, false)),
              "pid:999: 25%, muted");
}

} // namespace
} // namespace corvalle
