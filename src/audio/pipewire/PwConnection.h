#pragma once

#include "GraphState.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

struct pw_client_info;
struct pw_core;
struct pw_node_info;
struct pw_proxy;
struct pw_registry;
struct spa_dict;
struct spa_pod;
struct spa_source;

namespace corvalle::pw {

class ThreadLoop;
class ThreadLoopLock;

// What the connection tells its owner, always on the loop thread with the lock held.
struct ConnectionEvents {
    // The first round trip after connecting completed (isComplete()).
    std::function<void()> completed;
    // The summary of the graph changed (devices, processes, default, running).
    std::function<void(const GraphSummary& before, const GraphSummary& after)> summaryChanged;
    // A node appeared.
    std::function<void(std::uint32_t nodeID)> nodeAdded;
    // An output stream node appeared (or got its client).
    std::function<void(std::uint32_t nodeID)> outputStreamAdded;
    // A link appeared.
    std::function<void(const LinkRecord& link)> linkAdded;
    // A port appeared on node `nodeID`.
    std::function<void(std::uint32_t nodeID)> portAdded;
    // A stream's target.object or target.node in the "default" metadata changed
    // (`inMetadata`), or its own target.object or node.target property did.
    std::function<void(std::uint32_t nodeID, bool inMetadata)> targetChanged;
    // A stream's Props arrived or were set (graph().nodes[nodeID].volume):
    // `byOthers` unless they answer a set of ours. A set applies even when it
    // leaves every value as it was: the own part, set again, undoes the soft part.
    std::function<void(std::uint32_t nodeID, bool byOthers)> streamVolumeChanged;
    // A link went away.
    std::function<void()> linkRemoved;
    // The server went away: every object made on the old connection is gone.
    std::function<void()> disconnected;
};

// One connection to the server on the thread loop: the core, the registry view
// (GraphState) and the "default" metadata. Reconnects with backoff when the
// server goes away. Every member is used with the loop's lock held.
class Connection {
public:
    Connection(ThreadLoop& loop, std::string remoteName, ConnectionEvents events);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts connecting; later attempts run in the background.
    void start();

    bool isConnected() const { return core_ != nullptr; }
    // True once the first round trip after connecting completed: the registry
    // view holds every object that existed then.
    bool isComplete() const { return complete_; }
    pw_core* core() const { return core_; }
    const GraphState& graph() const { return graph_; }
    std::uint64_t generation() const { return generation_; }

    // A round trip to the server: true when it answered in time without error.
    bool sync(ThreadLoopLock& lock, int timeoutMs);
    // Sets (or with a null value deletes) a key of the "default" metadata.
    bool setMetadata(std::uint32_t subject, const char* key, const char* type, const char* value);
    bool hasMetadata() const { return metadata_ != nullptr; }
    // Sets the soft part of a stream's volume to its own part times `gain`,
    // applied by the stream from its next cycle on (see StreamVolume). False
    // while its Props are unknown.
    bool setSoftVolume(std::uint32_t nodeID, float gain);
    // Links two ports through the server's link factory. A lingering link stays
    // after we are gone; any other goes with its proxy (ours to destroy). A
    // passive link does not keep its nodes running.
    pw_proxy* createLink(std::uint32_t outputPortID, std::uint32_t inputPortID, bool linger,
                         bool passive = false);
    // Asks the server to destroy a global of someone else's (a link).
    void destroyObject(std::uint32_t id);

private:
    struct Bound;

    void connect();
    void disconnect();
    void scheduleReconnect();
    void changed();
    void addGlobal(std::uint32_t id, const char* type, const spa_dict* props);
    void removeGlobal(std::uint32_t id);
    void bind(std::uint32_t id, const char* type, std::uint32_t version);
    void nodeInfo(std::uint32_t id, const spa_dict* props, bool running);
    void clientInfo(std::uint32_t id, const spa_dict* props);
    void nodeProps(std::uint32_t id, const spa_pod* param);
    void metadataProperty(std::uint32_t subject, const char* key, const char* value);
    void notifyTarget(std::uint32_t subject);
    void bindMetadata(std::uint32_t id);
    void unbindMetadata();
    void scheduleMetadataCheck();

    static void onCoreDone(void* data, std::uint32_t id, int seq);
    static void onCoreError(void* data, std::uint32_t id, int seq, int res, const char* message);
    static void onGlobal(void* data, std::uint32_t id, std::uint32_t permissions, const char* type,
                         std::uint32_t version, const spa_dict* props);
    static void onGlobalRemove(void* data, std::uint32_t id);
    static void onNodeInfo(void* data, const pw_node_info* info);
    static void onClientInfo(void* data, const pw_client_info* info);
    static void onNodeParam(void* data, int seq, std::uint32_t id, std::uint32_t index,
                            std::uint32_t next, const spa_pod* param);
    static int onMetadataProperty(void* data, std::uint32_t subject, const char* key,
                                  const char* type, const char* value);
    static void onReconnectTimer(void* data, std::uint64_t expirations);
    static void onMetadataTimer(void* data, std::uint64_t expirations);

    ThreadLoop& loop_;
    std::string remoteName_;
    ConnectionEvents events_;

    pw_core* core_ = nullptr;
    pw_registry* registry_ = nullptr;
    struct Hooks;
    std::unique_ptr<Hooks> hooks_;
    std::map<std::uint32_t, std::unique_ptr<Bound>> bound_;
    pw_proxy* metadata_ = nullptr;
    std::uint32_t metadataID_ = 0;

    GraphState graph_;
    GraphSummary summary_;
    bool complete_ = false;
    int completeSeq_ = -1;
    std::set<int> doneSeqs_;
    std::set<int> failedSeqs_;
    std::uint64_t generation_ = 0;
    AudioObjectID nextProcessObjectID_ = 0x10000000;

    spa_source* reconnectTimer_ = nullptr;
    int backoffMs_ = 0;
    bool lost_ = false;
    // Reads the "default" metadata again while the default sink it named is
    // unknown or gone: the server drops changes for us while another client's
    // bind of it is pending (see onMetadataTimer).
    spa_source* metadataTimer_ = nullptr;
    int metadataRetryMs_ = 0;
};

} // namespace corvalle::pw
