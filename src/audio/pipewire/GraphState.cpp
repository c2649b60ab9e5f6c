#include "GraphState.h"

#include "PipeWireKeys.h"
#include "ProcessIdentity.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <spa/param/audio/raw-types.h>
#include <spa/utils/json.h>
#include <string_view>
#include <utility>

namespace corvalle::pw {

namespace {

// All of `text` as a number of type T: none for no text, a sign where T has
// none, or anything after the digits.
template <typename T> std::optional<T> parseWhole(const std::string* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    T value{};
    const char* end = text->data() + text->size();
    const auto result = std::from_chars(text->data(), end, value);
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

bool classIs(const NodeRecord& node, const char* mediaClass) {
    const std::string* value = findProperty(node.props, keys::kMediaClass);
    return value != nullptr && *value == mediaClass;
}

bool equalsIgnoringCase(std::string_view text, std::string_view other) {
    return std::ranges::equal(text, other, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

pid_t parsePID(const std::string* text) {
    const std::optional<pid_t> value = parseWhole<pid_t>(text);
    return value && *value > 0 ? *value : -1;
}

std::optional<std::string> nonEmpty(const std::string* value) {
    if (value == nullptr || value->empty()) {
        return std::nullopt;
    }
    return *value;
}

} // namespace

const std::string* findProperty(const Properties& props, const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? nullptr : &it->second;
}

std::optional<std::uint32_t> parseID(const std::string* text) {
    return parseWhole<std::uint32_t>(text);
}

bool GraphState::isDevice(const NodeRecord& node) {
    return classIs(node, keys::kClassAudioSink) || classIs(node, keys::kClassAudioDuplex);
}

bool GraphState::isPulseStream(const NodeRecord& node) {
    const std::string* api = findProperty(node.props, keys::kClientAPI);
    return api != nullptr && *api == keys::kClientAPIPulse;
}

// The node's global leaves client.api out, and its client's may come later: the
// media keys that PipeWire's JACK library gives every client's node tell it too.
bool GraphState::isJackNode(const NodeRecord& node) {
    const auto is = [&](const char* key, const char* value) {
        const std::string* found = findProperty(node.props, key);
        return found != nullptr && *found == value;
    };
    return findProperty(node.props, keys::kMediaClass) == nullptr &&
           is(keys::kMediaType, keys::kMediaTypeAudio) &&
           (is(keys::kClientAPI, keys::kClientAPIJack) ||
            (is(keys::kMediaCategory, keys::kMediaCategoryDuplex) &&
             is(keys::kMediaRole, keys::kMediaRoleDSP)));
}

bool GraphState::isAudioStream(const NodeRecord& node) {
    return isOutputStream(node) || classIs(node, keys::kClassStreamInputAudio);
}

bool GraphState::isOutputStream(const NodeRecord& node) {
    return classIs(node, keys::kClassStreamOutputAudio) ||
           (node.hasAudioOutputPort && isJackNode(node));
}

std::vector<AudioObjectID> GraphState::deviceIDs() const {
    std::vector<AudioObjectID> result;
    for (const auto& [id, node] : nodes) {
        if (isDevice(node)) {
            result.push_back(id);
        }
    }
    return result;
}

std::vector<AudioObjectID> GraphState::processObjectIDs() const {
    std::vector<AudioObjectID> result;
    for (const auto& [id, client] : clients) {
        for (const auto& [nodeID, node] : nodes) {
            if (isAudioStream(node) && parseID(findProperty(node.props, keys::kClientID)) == id) {
                result.push_back(client.processObjectID);
                break;
            }
        }
    }
    return result;
}

AudioObjectID GraphState::defaultOutputID() const {
    if (!defaultSinkName) {
        return kAudioObjectUnknown;
    }
    const NodeRecord* node = deviceByName(*defaultSinkName);
    return node == nullptr ? kAudioObjectUnknown : node->id;
}

const NodeRecord* GraphState::deviceByName(const std::string& name) const {
    for (const auto& [id, node] : nodes) {
        const std::string* nodeName = findProperty(node.props, keys::kNodeName);
        if (isDevice(node) && nodeName != nullptr && *nodeName == name) {
            return &node;
        }
    }
    return nullptr;
}

const ClientRecord* GraphState::clientByProcessObject(AudioObjectID processObjectID) const {
    if (processObjectID == kAudioObjectUnknown) {
        return nullptr;
    }
    for (const auto& [id, client] : clients) {
        if (client.processObjectID == processObjectID) {
            return &client;
        }
    }
    return nullptr;
}

std::vector<std::uint32_t> GraphState::outputStreamsOf(std::uint32_t clientID) const {
    std::vector<std::uint32_t> result;
    for (const auto& [id, node] : nodes) {
        if (isOutputStream(node) &&
            parseID(findProperty(node.props, keys::kClientID)) == clientID) {
            result.push_back(id);
        }
    }
    return result;
}

bool GraphState::isRunningOutput(const ClientRecord& client) const {
    for (const std::uint32_t id : outputStreamsOf(client.id)) {
        if (nodes.at(id).running) {
            return true;
        }
    }
    return false;
}

bool GraphState::isRunningCall(const ClientRecord& client) const {
    for (const std::uint32_t id : outputStreamsOf(client.id)) {
        const NodeRecord& node = nodes.at(id);
        const std::string* role = findProperty(node.props, keys::kMediaRole);
        if (node.running && role != nullptr &&
            (equalsIgnoringCase(*role, keys::kMediaRoleCommunication) ||
             equalsIgnoringCase(*role, keys::kMediaRolePhone))) {
            return true;
        }
    }
    return false;
}

std::optional<std::string>
GraphState::chosenOutput(std::uint32_t nodeID,
                         const std::optional<std::string>& objectTarget) const {
    const auto node = nodes.find(nodeID);
    if (node == nodes.end()) {
        return std::nullopt;
    }
    // The value and what a number in it counts: object serials or global ids.
    std::optional<std::pair<std::string, bool>> choice;
    if (objectTarget) {
        choice = {{*objectTarget, true}};
    } else if (const auto meta = targetNodes.find(nodeID); meta != targetNodes.end()) {
        choice = {{meta->second, false}};
    } else if (const std::string* prop = findProperty(node->second.props, keys::kTargetObject)) {
        choice = {{*prop, true}};
    } else if (const std::string* legacy = findProperty(node->second.props, keys::kNodeTarget)) {
        choice = {{*legacy, false}};
    }
    if (!choice || choice->first.empty() || choice->first == keys::kFollowDefault) {
        return std::nullopt;
    }
    const auto& [value, bySerial] = *choice;
    const std::optional<std::uint32_t> number = parseID(&value);
    for (const auto& [id, candidate] : nodes) {
        if (!isDevice(candidate)) {
            continue;
        }
        bool matches = false;
        if (number) {
            matches = bySerial
                          ? parseID(findProperty(candidate.props, keys::kObjectSerial)) == number
                          : id == *number;
        } else {
            const std::string* name = findProperty(candidate.props, keys::kNodeName);
            const std::string* path = findProperty(candidate.props, keys::kObjectPath);
            matches = (name != nullptr && *name == value) || (path != nullptr && *path == value);
        }
        if (matches) {
            const std::string* name = findProperty(candidate.props, keys::kNodeName);
            return name == nullptr ? std::nullopt : std::optional<std::string>(*name);
        }
    }
    return std::nullopt;
}

bool GraphState::isLinked(std::uint32_t outputNodeID, std::uint32_t inputNodeID) const {
    for (const auto& [id, link] : links) {
        if (link.outputNodeID == outputNodeID && link.inputNodeID == inputNodeID) {
            return true;
        }
    }
    return false;
}

std::optional<std::uint32_t> GraphState::inputPortFor(std::uint32_t nodeID,
                                                      const std::string& channel,
                                                      std::size_t place) const {
    std::vector<std::uint32_t> inputs;
    bool named = false;
    for (const auto& [id, port] : ports) {
        if (port.nodeID != nodeID || port.isOutput || !port.isAudio) {
            continue;
        }
        if (!channel.empty() && port.channel == channel) {
            return id;
        }
        named = named || !port.channel.empty();
        inputs.push_back(id);
    }
    if ((!channel.empty() && named) || inputs.empty()) {
        return std::nullopt;
    }
    return inputs[place % inputs.size()];
}

bool GraphState::hasOutputLink(std::uint32_t outputNodeID) const {
    return std::any_of(links.begin(), links.end(), [&](const auto& entry) {
        return entry.second.outputNodeID == outputNodeID;
    });
}

GraphSummary GraphState::summary() const {
    GraphSummary result;
    result.devices = deviceIDs();
    result.processes = processObjectIDs();
    result.defaultOutput = defaultOutputID();
    for (const AudioObjectID processID : result.processes) {
        const ClientRecord* client = clientByProcessObject(processID);
        result.runningOutput[processID] = client != nullptr && isRunningOutput(*client);
        result.runningCall[processID] = client != nullptr && isRunningCall(*client);
    }
    return result;
}

void GraphState::clear() {
    nodes.clear();
    clients.clear();
    ports.clear();
    links.clear();
    defaultSinkName.reset();
    targets.clear();
    targetNodes.clear();
}

std::optional<std::string> deviceDescription(const Properties& props) {
    for (const char* key : {keys::kNodeDescription, keys::kNodeNick, keys::kNodeName}) {
        if (auto value = nonEmpty(findProperty(props, key))) {
            return value;
        }
    }
    return std::nullopt;
}

pid_t clientPID(const Properties& props,
                const std::function<std::optional<std::string>(pid_t)>& processName) {
    const pid_t secPID = parsePID(findProperty(props, keys::kSecPID));
    const std::string* api = findProperty(props, keys::kClientAPI);
    if (api != nullptr && *api == keys::kClientAPIPulse) {
        // Only a connection that really comes from the compatibility server may
        // speak for another process; anyone else could claim any PID.
        const auto name = secPID > 0 ? processName(secPID) : std::nullopt;
        bool fromServer = false;
        for (const char* serverName : keys::kPulseServerProcessNames) {
            fromServer = fromServer || (name && *name == serverName);
        }
        if (fromServer) {
            return parsePID(findProperty(props, keys::kAppProcessID));
        }
    }
    if (secPID > 0) {
        return secPID;
    }
    return parsePID(findProperty(props, keys::kAppProcessID));
}

std::optional<std::string> procCommandName(pid_t pid) {
    return process::commandName("/proc", pid);
}

std::optional<std::string> clientBundleID(const Properties& props) {
    if (auto value = nonEmpty(findProperty(props, keys::kPortalAppID))) {
        return value;
    }
    return nonEmpty(findProperty(props, keys::kAppID));
}

std::optional<std::string> hint(const Properties* nodeProps, const Properties& clientProps,
                                const char* key) {
    if (nodeProps != nullptr) {
        if (auto value = nonEmpty(findProperty(*nodeProps, key))) {
            return value;
        }
    }
    return nonEmpty(findProperty(clientProps, key));
}

ChannelLayout channelLayout(const Properties& deviceProps) {
    const std::string* text = findProperty(deviceProps, keys::kAudioPosition);
    if (text == nullptr) {
        return stereoLayout();
    }
    ChannelLayout layout;
    std::string_view rest(*text);
    constexpr std::string_view kSeparators = "[], \t\n";
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(kSeparators);
        if (start == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(start);
        const std::string_view name = rest.substr(0, rest.find_first_of(kSeparators));
        rest.remove_prefix(name.size());
        const spa_type_info* known = nullptr;
        for (const spa_type_info* t = spa_type_audio_channel; t->name != nullptr; ++t) {
            const std::string_view full(t->name);
            if (full.substr(full.rfind(':') + 1) == name) {
                known = t;
            }
        }
        if (known == nullptr || known->type == SPA_AUDIO_CHANNEL_UNKNOWN ||
            layout.size() == SPA_AUDIO_MAX_CHANNELS) {
            return stereoLayout();
        }
        layout.push_back(known->type);
    }
    return layout.empty() ? stereoLayout() : layout;
}

std::optional<std::string> applicationName(const Properties* nodeProps,
                                           const Properties& clientProps) {
    std::optional<std::string> name = hint(nodeProps, clientProps, keys::kAppName);
    constexpr std::string_view kAlsaPlugin = "PipeWire ALSA [";
    if (name && name->size() > kAlsaPlugin.size() + 1 && name->rfind(kAlsaPlugin, 0) == 0 &&
        name->back() == ']') {
        return name->substr(kAlsaPlugin.size(), name->size() - kAlsaPlugin.size() - 1);
    }
    return name;
}

std::optional<std::string> nameFromJSON(const std::string& json) {
    struct spa_json outer {};
    struct spa_json object {};
    spa_json_init(&outer, json.data(), json.size());
    if (spa_json_enter_object(&outer, &object) <= 0) {
        return std::nullopt;
    }
    std::string key(json.size() + 1, '\0');
    std::string value(json.size() + 1, '\0');
    const int capacity = static_cast<int>(key.size());
    while (spa_json_get_string(&object, key.data(), capacity) > 0) {
        const char* raw = nullptr;
        const int length = spa_json_next(&object, &raw);
        if (length <= 0) {
            return std::nullopt;
        }
        if (std::string(key.c_str()) == keys::kJSONNameMember) {
            if (!spa_json_is_string(raw, length) ||
                spa_json_parse_stringn(raw, length, value.data(), capacity) <= 0) {
                return std::nullopt;
            }
            return std::string(value.c_str());
        }
    }
    return std::nullopt;
}

std::string jsonWithName(const std::string& name) {
    std::string escaped;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            escaped += '\\';
            escaped += c;
        } else if (byte < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            escaped += "\\u00";
            escaped += kHex[byte >> 4U];
            escaped += kHex[byte & 0xFU];
        } else {
            escaped += c;
        }
    }
    return std::string("{\"") + keys::kJSONNameMember + "\":\"" + escaped + "\"}";
}

} // namespace corvalle::pw
