// What the registry view makes of odd or hostile server properties: the PID a
// client claims, and the default-device JSON other programs write.
#include "GraphState.h"

#include <gtest/gtest.h>

namespace corvalle::pw {
namespace {

struct PIDCase {
    const char* name;
    Properties props;
    pid_t expected;
};

class ClientPIDTest : public ::testing::TestWithParam<PIDCase> {};

TEST_P(ClientPIDTest, ReadsTheRightProcess) {
    // 500 is the pulse server, 600 the daemon hosting it; anything else an application.
    const auto nameOf = [](pid_t pid) -> std::optional<std::string> {
        return pid == 500 ? "pipewire-pulse" : pid == 600 ? "pipewire" : "firefox";
    };
    EXPECT_EQ(clientPID(GetParam().props, nameOf), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Clients, ClientPIDTest,
    ::testing::Values(PIDCase{"nativeUsesTheServerVerifiedPID",
                              {{"pipewire.sec.pid", "42"}, {"application.process.id", "7"}},
                              42},
                      PIDCase{"pulseClientUsesItsOwnClaim",
                              {{"pipewire.sec.pid", "500"},
                               {"client.api", "pipewire-pulse"},
                               {"application.process.id", "77"}},
                              77},
                      PIDCase{"pulseInsideTheDaemonUsesItsOwnClaim",
                              {{"pipewire.sec.pid", "600"},
                               {"client.api", "pipewire-pulse"},
                               {"application.process.id", "78"}},
                              78},
                      PIDCase{"aNativeClientPretendingToBePulseKeepsItsRealPID",
                              {{"pipewire.sec.pid", "42"},
                               {"client.api", "pipewire-pulse"},
                               {"application.process.id", "1"}},
                              42},
                      PIDCase{"garbageIsUnknown", {{"pipewire.sec.pid", "12abc"}}, -1},
                      PIDCase{"negativeIsUnknown", {{"pipewire.sec.pid", "-4"}}, -1},
                      PIDCase{"overflowIsUnknown", {{"pipewire.sec.pid", "99999999999999"}}, -1},
                      PIDCase{"pulseClientWithoutClaimIsUnknown",
                              {{"pipewire.sec.pid", "500"}, {"client.api", "pipewire-pulse"}},
                              -1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(DefaultSinkJSONTest, ReadsTheNameAndRejectsEverythingElse) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {R"({ "name": "alsa_output.pci-0000_00_1f.3" })", "alsa_output.pci-0000_00_1f.3"},
        {R"({"other":1,"name":"x"})", "x"},
        {R"({"name":"quote\"inside"})", "quote\"inside"},
        {R"({"name":5})", std::nullopt},
        {R"("speakers")", std::nullopt},
        {"", std::nullopt},
        {"{", std::nullopt},
        {R"({"nam":"x"})", std::nullopt}};
    for (const auto& [json, name] : cases) {
        EXPECT_EQ(nameFromJSON(json), name) << json;
    }
    for (const std::string odd : {"a\"b", "back\\slash", "tab\there", "Ünïcode"}) {
        EXPECT_EQ(nameFromJSON(jsonWithName(odd)), odd) << jsonWithName(odd);
    }
}

} // namespace
} // namespace corvalle::pw
