// What the registry view makes of odd or hostile server properties: the PID a
// client claims, the default-device JSON other programs write, and the output a
// stream chose for itself.
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

struct ChosenOutputCase {
    const char* name;
    Properties streamProps;
    std::optional<std::string> metadataObject; // target.object in the metadata
    std::optional<std::string> metadataNode;   // target.node in the metadata
    std::optional<std::string> expected;
};

class ChosenOutputTest : public ::testing::TestWithParam<ChosenOutputCase> {};

// Two outputs (speakers: id 30, serial 130; headphones: id 31, serial 131), a
// monitor-less source and a stream (id 50).
TEST_P(ChosenOutputTest, ReadsTheChoiceAsTheSessionManagerDoes) {
    GraphState graph;
    graph.nodes[30] = {30,
                       {{"media.class", "Audio/Sink"},
                        {"node.name", "speakers"},
                        {"object.serial", "130"},
                        {"object.path", "null:speakers"}},
                       false};
    graph.nodes[31] = {
        31,
        {{"media.class", "Audio/Sink"}, {"node.name", "headphones"}, {"object.serial", "131"}},
        false};
    graph.nodes[32] = {
        32,
        {{"media.class", "Audio/Source"}, {"node.name", "mic"}, {"object.serial", "132"}},
        false};
    Properties props = GetParam().streamProps;
    props["media.class"] = "Stream/Output/Audio";
    graph.nodes[50] = {50, props, true};
    if (GetParam().metadataNode) {
        graph.targetNodes[50] = *GetParam().metadataNode;
    }
    EXPECT_EQ(graph.chosenOutput(50, GetParam().metadataObject), GetParam().expected);
    EXPECT_EQ(graph.chosenOutput(77, std::nullopt), std::nullopt) << "no such stream";
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ChosenOutputTest,
    ::testing::Values(
        ChosenOutputCase{"noChoiceFollowsTheDefault", {}, std::nullopt, std::nullopt, std::nullopt},
        ChosenOutputCase{"ownPropertyByName",
                         {{"target.object", "headphones"}},
                         std::nullopt,
                         std::nullopt,
                         "headphones"},
        ChosenOutputCase{"ownPropertyBySerial",
                         {{"target.object", "131"}},
                         std::nullopt,
                         std::nullopt,
                         "headphones"},
        ChosenOutputCase{"ownPropertyByPath",
                         {{"target.object", "null:speakers"}},
                         std::nullopt,
                         std::nullopt,
                         "speakers"},
        ChosenOutputCase{"legacyPropertyById",
                         {{"node.target", "31"}},
                         std::nullopt,
                         std::nullopt,
                         "headphones"},
        ChosenOutputCase{"metadataObjectOverridesTheProperty",
                         {{"target.object", "headphones"}},
                         "130",
                         std::nullopt,
                         "speakers"},
        ChosenOutputCase{"metadataNodeOverridesTheProperty",
                         {{"target.object", "headphones"}},
                         std::nullopt,
                         "30",
                         "speakers"},
        ChosenOutputCase{
            "metadataObjectOverridesMetadataNode", {}, "headphones", "30", "headphones"},
        ChosenOutputCase{"minusOneFollowsTheDefault",
                         {{"target.object", "headphones"}},
                         std::nullopt,
                         "-1",
                         std::nullopt},
        ChosenOutputCase{"aGoneOutputFallsBack",
                         {{"target.object", "hdmi"}},
                         std::nullopt,
                         std::nullopt,
                         std::nullopt},
        ChosenOutputCase{"anIdIsNoSerial", {}, "31", std::nullopt, std::nullopt},
        ChosenOutputCase{"aSourceIsNoOutput",
                         {{"target.object", "mic"}},
                         std::nullopt,
                         std::nullopt,
                         std::nullopt},
        ChosenOutputCase{"aStreamIsNoOutput",
                         {{"target.object", "50"}},
                         std::nullopt,
                         std::nullopt,
                         std::nullopt},
        ChosenOutputCase{
            "garbageFallsBack", {{"target.object", "12abc"}}, std::nullopt, "-7", std::nullopt}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace corvalle::pw
