#include "CommandFormat.h"

#include <gtest/gtest.h>

namespace corvalle {
namespace {

TEST(CommandFormat, TerminalControlAndDirectionCharactersAreNeutralised) {
    ApplicationState state;
    state.key = QStringLiteral("org.evil");
    state.name = QStringLiteral("Evil\x1b]0;owned\x07\u202E") + QChar(0x9b) + "x";
    const auto line = applicationLine(state);
    EXPECT_TRUE(line.startsWith("Evil\uFFFD]0;owned\uFFFD\uFFFD\uFFFDx (org.evil)"))
        << line.toStdString();
}

} // namespace
} // namespace corvalle
