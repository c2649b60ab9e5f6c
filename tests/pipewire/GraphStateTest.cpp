// What the registry view makes of odd or hostile server properties: the PID a
// client claims, the default-device JSON other programs write, and the output a
// stream chose for itself.
#include "GraphState.h"

#include <gtest/gtest.h>

namespace corvalle::pw {
namespace {

// 500 is the pulse server, 600 the daemon hosting it; anything else an application.
TEST(ClientPIDTest, ReadsTheRightProcess) {
    const auto nameOf = [](pid_t pid) -> std::optional<std::string> {
        return pid == 500 ? "pipewire-pulse" : pid == 600 ? "pipewire" : "firefox";
    };
    const auto pulse = [](const char* secPID, const char* claimed) {
        return Properties{{"pipewire.sec.pid", secPID},
                          {"client.api", "pipewire-pulse"},
                          {"application.process.id", claimed}};
    };
    const std::pair<Properties, pid_t> cases[] = {
        // native: the server-verified PID
        {{{"pipewire.sec.pid", "42"}, {"application.process.id", "7"}}, 42},
        // a pulse client, in the pulse server or in the daemon hosting it: its own claim
        {pulse("500", "77"), 77},
        {pulse("600", "78"), 78},
        // a native client pretending to be pulse keeps its real PID
        {pulse("42", "1"), 42},
        {{{"pipewire.sec.pid", "500"}, {"client.api", "pipewire-pulse"}}, -1},
        {{{"pipewire.sec.pid", "12abc"}}, -1},
        {{{"pipewire.sec.pid", "-4"}}, -1},
        {{{"pipewire.sec.pid", "99999999999999"}}, -1},
    };
    for (const auto& [props, expected] : cases) {
        EXPECT_EQ(clientPID(props, nameOf), expected) << testing::PrintToString(props);
    }
}

// The stream's name beats the client's; a plugin's wrapper comes off only whole.
TEST(ApplicationNameTest, IsTheProgramsOwnWhereAPluginWrapsIt) {
    const Properties client{{"application.name", "PipeWire ALSA [client]"}};
    const std::pair<Properties, std::optional<std::string>> cases[] = {
        {{{"application.name", "PipeWire ALSA [aplay]"}}, "aplay"},
        {{{"application.name", "PipeWire ALSA [a] b]"}}, "a] b"},
        {{{"application.name", "Firefox"}}, "Firefox"},
        {{{"application.name", "PipeWire ALSA []"}}, "PipeWire ALSA []"},
        {{{"application.name", "PipeWire ALSA [x"}}, "PipeWire ALSA [x"},
        {{{"application.name", "My PipeWire ALSA [x]"}}, "My PipeWire ALSA [x]"},
        {{}, "client"},
    };
    for (const auto& [node, expected] : cases) {
        EXPECT_EQ(applicationName(&node, client), expected) << expected.value_or("none");
    }
    EXPECT_EQ(applicationName(nullptr, {}), std::nullopt);
}

// Both spellings PipeWire writes; anything it would not know is stereo, never a
// layout that drops or invents a channel.
TEST(ChannelLayoutTest, ReadsTheDevicesChannelsInOrder) {
    const ChannelLayout surround{SPA_AUDIO_CHANNEL_FL,  SPA_AUDIO_CHANNEL_FR, SPA_AUDIO_CHANNEL_FC,
                                 SPA_AUDIO_CHANNEL_LFE, SPA_AUDIO_CHANNEL_RL, SPA_AUDIO_CHANNEL_RR};
    const std::pair<const char*, ChannelLayout> cases[] = {
        {"[ FL FR FC LFE RL RR ]", surround},
        {"FL,FR,FC,LFE,RL,RR", surround},
        {"[MONO]", {SPA_AUDIO_CHANNEL_MONO}},
        {"FR,FL", {SPA_AUDIO_CHANNEL_FR, SPA_AUDIO_CHANNEL_FL}},
        {"[ ]", stereoLayout()},
        {"FL,WHAT", stereoLayout()},
        {"FL,UNK", stereoLayout()},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(channelLayout({{"audio.position", text}}), expected) << text;
    }
    EXPECT_EQ(channelLayout({}), stereoLayout());
    std::string tooMany;
    for (unsigned i = 0; i <= SPA_AUDIO_MAX_CHANNELS; ++i) {
        tooMany += "FL,";
    }
    EXPECT_EQ(channelLayout({{"audio.position", tooMany}}), stereoLayout());
}

// A JACK client's node, known from its global's media keys or its client.api,
// plays once it has an audio output port; anything with a class is a stream or
// a device of its own kind.
TEST(JackNodeTest, IsAPlayingStreamOnlyWithAnAudioOutputPort) {
    const Properties::value_type audio{"media.type", "Audio"}, jackAPI{"client.api", "jack"},
        duplex{"media.category", "Duplex"};
    const Properties jack{audio, duplex, {"media.role", "DSP"}};
    struct Case {
        bool hasAudioOutputPort, isJack, isOutput;
        Properties props;
    };
    const Case cases[] = {
        {true, true, true, jack},
        {false, true, false, jack},
        {true, true, true, {audio, jackAPI}},
        {true, false, false, {audio, duplex, {"media.role", "Music"}}},
        {true, false, false, {{"media.type", "Midi"}, jackAPI}},
        {true, false, false, {audio, jackAPI, {"media.class", "Audio/Sink"}}},
        {false, false, true, {{"media.class", "Stream/Output/Audio"}}},
    };
    for (const auto& c : cases) {
        NodeRecord node;
        node.props = c.props;
        node.hasAudioOutputPort = c.hasAudioOutputPort;
        EXPECT_EQ(GraphState::isJackNode(node), c.isJack) << testing::PrintToString(c.props);
        EXPECT_EQ(GraphState::isOutputStream(node), c.isOutput) << testing::PrintToString(c.props);
    }
}

// Sound goes to the input of its channel; by place only where a channel is not
// named on either side, and nowhere when the node names channels but not this.
TEST(InputPortTest, IsTheChannelsElseThePortAtTheSamePlace) {
    GraphState graph;
    const auto add = [&](std::uint32_t id, std::uint32_t node, bool output, std::string channel) {
        graph.ports[id] = PortRecord{id, node, "", output, std::move(channel), true};
    };
    add(10, 1, false, "FL");
    add(11, 1, false, "FR");
    add(12, 1, true, "FL"); // a monitor output: never a target
    add(20, 2, false, "");
    add(21, 2, false, "");
    struct Case {
        std::uint32_t node;
        std::string channel;
        std::size_t place;
        std::optional<std::uint32_t> port;
    };
    const Case cases[] = {
        {1, "FR", 0, 11},
        {1, "FL", 1, 10},
        {1, "", 1, 11},
        {1, "LFE", 0, std::nullopt},
        {2, "FR", 1, 21},
        {2, "", 2, 20},
        {3, "FL", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(graph.inputPortFor(c.node, c.channel, c.place), c.port)
            << c.node << " " << c.channel << " " << c.place;
    }
}

// A client calls while one of its running output streams names a call's role;
// another stream of it, or a stream of its that is not running, does not count.
TEST(RunningCallTest, IsARunningOutputStreamWithACallsRole) {
    const std::tuple<const char*, bool, bool> cases[] = {
        {"Communication", true, true},   {"PHONE", true, true},
        {"Communication", false, false}, {"Music", true, false},
        {"Communications", true, false}, {"", true, false},
        {nullptr, true, false},
    };
    for (const auto& [role, running, calls] : cases) {
        GraphState graph;
        graph.clients[5] = ClientRecord{5, 1005, {}};
        NodeRecord music{.id = 10,
                         .props = {{"media.class", "Stream/Output/Audio"},
                                   {"client.id", "5"},
                                   {"media.role", "Music"}},
                         .running = true};
        NodeRecord stream{.id = 11,
                          .props = {{"media.class", "Stream/Output/Audio"}, {"client.id", "5"}},
                          .running = running};
        if (role != nullptr) {
            stream.props["media.role"] = role;
        }
        graph.nodes[10] = music;
        graph.nodes[11] = stream;
        EXPECT_EQ(graph.isRunningCall(graph.clients.at(5)), calls)
            << (role == nullptr ? "none" : role) << " running " << running;
        EXPECT_EQ(graph.summary().runningCall.at(1005), calls);
    }
}

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

// Two outputs (speakers: id 30, serial 130; headphones: id 31, serial 131), a
// monitor-less source and a stream (id 50). The metadata's target.object and
// target.node override the stream's own properties.
TEST(ChosenOutputTest, ReadsTheChoiceAsTheSessionManagerDoes) {
    struct Case {
        const char* name;
        Properties streamProps;
        std::optional<std::string> metadataObject; // target.object in the metadata
        std::optional<std::string> metadataNode;   // target.node in the metadata
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"no choice follows the default", {}, {}, {}, {}},
        {"own property by name", {{"target.object", "headphones"}}, {}, {}, "headphones"},
        {"own property by serial", {{"target.object", "131"}}, {}, {}, "headphones"},
        {"own property by path", {{"target.object", "null:speakers"}}, {}, {}, "speakers"},
        {"legacy property by id", {{"node.target", "31"}}, {}, {}, "headphones"},
        {"metadata object wins", {{"target.object", "headphones"}}, "130", {}, "speakers"},
        {"metadata node wins", {{"target.object", "headphones"}}, {}, "30", "speakers"},
        {"metadata object over node", {}, "headphones", "30", "headphones"},
        {"-1 follows the default", {{"target.object", "headphones"}}, {}, "-1", {}},
        {"a gone output falls back", {{"target.object", "hdmi"}}, {}, {}, {}},
        {"an id is no serial", {}, "31", {}, {}},
        {"a source is no output", {{"target.object", "mic"}}, {}, {}, {}},
        {"a stream is no output", {{"target.object", "50"}}, {}, {}, {}},
        {"garbage falls back", {{"target.object", "12abc"}}, {}, "-7", {}},
    };
    GraphState graph;
    const auto device = [&](std::uint32_t id, const char* mediaClass, const char* name) {
        graph.nodes[id] = {id,
                           {{"media.class", mediaClass},
                            {"node.name", name},
                            {"object.serial", std::to_string(id + 100)}},
                           false};
    };
    device(30, "Audio/Sink", "speakers");
    graph.nodes[30].props["object.path"] = "null:speakers";
    device(31, "Audio/Sink", "headphones");
    device(32, "Audio/Source", "mic");
    for (const Case& c : cases) {
        graph.targetNodes.clear();
        Properties props = c.streamProps;
        props["media.class"] = "Stream/Output/Audio";
        graph.nodes[50] = {50, props, true};
        if (c.metadataNode) {
            graph.targetNodes[50] = *c.metadataNode;
        }
        EXPECT_EQ(graph.chosenOutput(50, c.metadataObject), c.expected) << c.name;
        EXPECT_EQ(graph.chosenOutput(77, std::nullopt), std::nullopt) << "no such stream";
    }
}

} // namespace
} // namespace corvalle::pw
