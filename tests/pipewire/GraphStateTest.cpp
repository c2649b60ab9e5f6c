// The registry view's reading of server properties: PIDs, identities, names,
// the default-device JSON and what counts as a device or a process.
#include "GraphState.h"

#include <gtest/gtest.h>

namespace corvalle::pw {
namespace {

std::optional<std::string> nameOf(pid_t pid) {
    if (pid == 500) {
        return "pipewire-pulse";
    }
    if (pid == 600) {
        return "pipewire";
    }
    return "firefox";
}

struct PIDCase {
    const char* name;
    Properties props;
    pid_t expected;
};

class ClientPIDTest : public ::testing::TestWithParam<PIDCase> {};

TEST_P(ClientPIDTest, ReadsTheRightProcess) {
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
                      PIDCase{"withoutSecPIDTheClaimIsUsed", {{"application.process.id", "9"}}, 9},
                      PIDCase{"garbageIsUnknown", {{"pipewire.sec.pid", "12abc"}}, -1},
                      PIDCase{"negativeIsUnknown", {{"pipewire.sec.pid", "-4"}}, -1},
                      PIDCase{"overflowIsUnknown", {{"pipewire.sec.pid", "99999999999999"}}, -1},
                      PIDCase{"pulseClientWithoutClaimIsUnknown",
                              {{"pipewire.sec.pid", "500"}, {"client.api", "pipewire-pulse"}},
                              -1},
                      PIDCase{"nothingIsUnknown", {}, -1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ClientBundleIDTest, PrefersTheSandboxIdentityThenTheApplicationID) {
    EXPECT_EQ(clientBundleID({{"pipewire.access.portal.app_id", "org.a.App"},
                              {"application.id", "org.b.App"}}),
              "org.a.App");
    EXPECT_EQ(clientBundleID({{"application.id", "org.b.App"}}), "org.b.App");
    EXPECT_EQ(clientBundleID({{"application.id", ""}}), std::nullopt);
    EXPECT_EQ(clientBundleID({}), std::nullopt);
}

TEST(HintTest, TheStreamSpeaksBeforeItsClient) {
    const Properties node{{"application.name", "From Node"}};
    const Properties client{{"application.name", "From Client"}, {"application.icon-name", "c"}};
    EXPECT_EQ(hint(&node, client, "application.name"), "From Node");
    EXPECT_EQ(hint(&node, client, "application.icon-name"), "c");
    EXPECT_EQ(hint(nullptr, client, "application.name"), "From Client");
    EXPECT_EQ(hint(nullptr, {}, "application.name"), std::nullopt);
}

TEST(DeviceDescriptionTest, FallsBackFromDescriptionToNickToName) {
    EXPECT_EQ(
        deviceDescription({{"node.description", "D"}, {"node.nick", "N"}, {"node.name", "n"}}),
        "D");
    EXPECT_EQ(deviceDescription({{"node.description", ""}, {"node.nick", "N"}}), "N");
    EXPECT_EQ(deviceDescription({{"node.name", "n"}}), "n");
    EXPECT_EQ(deviceDescription({}), std::nullopt);
}

struct JSONCase {
    const char* json;
    std::optional<std::string> name;
};

class NameFromJSONTest : public ::testing::TestWithParam<JSONCase> {};

TEST_P(NameFromJSONTest, ReadsTheNameMember) {
    EXPECT_EQ(nameFromJSON(GetParam().json), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Values, NameFromJSONTest,
                         ::testing::Values(JSONCase{R"({"name":"speakers"})", "speakers"},
                                           JSONCase{R"({ "name": "alsa_output.pci-0000_00_1f.3" })",
                                                    "alsa_output.pci-0000_00_1f.3"},
                                           JSONCase{R"({"other":1,"name":"x"})", "x"},
                                           JSONCase{R"({"name":"quote\"inside"})", "quote\"inside"},
                                           JSONCase{R"({"name":5})", std::nullopt},
                                           JSONCase{R"("speakers")", std::nullopt},
                                           JSONCase{"", std::nullopt}, JSONCase{"{", std::nullopt},
                                           JSONCase{R"({"nam":"x"})", std::nullopt}));

TEST(JSONWithNameTest, EscapesWhatJSONNeedsAndReadsBack) {
    for (const std::string name : {"speakers", "a\"b", "back\\slash", "tab\there", "Ünïcode"}) {
        EXPECT_EQ(nameFromJSON(jsonWithName(name)), name) << jsonWithName(name);
    }
    EXPECT_EQ(jsonWithName("x"), R"({"name":"x"})");
}

NodeRecord node(std::uint32_t id, const char* mediaClass, std::uint32_t client = 0,
                const char* name = nullptr, bool running = false) {
    NodeRecord n;
    n.id = id;
    n.props["media.class"] = mediaClass;
    if (client != 0) {
        n.props["client.id"] = std::to_string(client);
    }
    if (name != nullptr) {
        n.props["node.name"] = name;
    }
    n.running = running;
    return n;
}

TEST(GraphStateTest, DevicesProcessesDefaultAndRunning) {
    GraphState graph;
    graph.nodes[30] = node(30, "Audio/Sink", 0, "speakers");
    graph.nodes[31] = node(31, "Audio/Source", 0, "mic");
    graph.nodes[32] = node(32, "Audio/Duplex", 0, "interface");
    graph.nodes[50] = node(50, "Stream/Output/Audio", 40, "player", true);
    graph.nodes[51] = node(51, "Stream/Input/Audio", 41, "recorder");
    graph.nodes[52] = node(52, "Video/Source", 42, "camera");
    graph.clients[40] = ClientRecord{40, 0x10000001, {}};
    graph.clients[41] = ClientRecord{41, 0x10000002, {}};
    graph.clients[42] = ClientRecord{42, 0x10000003, {}};
    graph.clients[43] = ClientRecord{43, 0x10000004, {}};
    graph.defaultSinkName = "speakers";

    EXPECT_EQ(graph.deviceIDs(), (std::vector<AudioObjectID>{30, 32}));
    EXPECT_EQ(graph.processObjectIDs(), (std::vector<AudioObjectID>{0x10000001, 0x10000002}));
    EXPECT_EQ(graph.defaultOutputID(), 30U);
    const GraphSummary summary = graph.summary();
    EXPECT_TRUE(summary.runningOutput.at(0x10000001));
    EXPECT_FALSE(summary.runningOutput.at(0x10000002));

    graph.defaultSinkName = "mic"; // a source is never the output device
    EXPECT_EQ(graph.defaultOutputID(), kAudioObjectUnknown);
    graph.defaultSinkName = "gone";
    EXPECT_EQ(graph.defaultOutputID(), kAudioObjectUnknown);
    EXPECT_EQ(graph.clientByProcessObject(kAudioObjectUnknown), nullptr);
}

} // namespace
} // namespace corvalle::pw
