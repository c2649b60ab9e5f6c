#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct pw_proxy;

namespace corvalle::pw {

class Connection;
class GraphState;

// Clients of PipeWire's JACK library link their ports to devices themselves;
// the session manager neither links them nor follows a target set for them. A
// tapped JACK client, or one sent to another output, is therefore moved link by
// link: each of its links into a device is replaced by one of ours into the
// tap's sink or the other device, on the port of the same channel, and put back
// when the tap lets go or the choice ends. Links between JACK clients, and
// ports never linked to a device, are left alone.
//
// The moves are also written to a file (see recordIn), so that a later run can
// put back what a run that was killed took away: the client's own links went
// when they were moved, and ours go with our process.
class JackRoutes {
public:
    JackRoutes() = default;
    ~JackRoutes();
    JackRoutes(const JackRoutes&) = delete;
    JackRoutes& operator=(const JackRoutes&) = delete;

    // Moves every link of node `nodeID` into a device over to `targetNodeID` (a
    // sink of ours or another device). A device link whose channel the target
    // cannot take stays where it is, as do links the client made into the target.
    void moveInto(Connection& connection, std::uint32_t nodeID, std::uint32_t targetNodeID);
    // Links `nodeID`'s ports to the device ports they were moved away from (as
    // lingering links, as the client's own were) and removes ours.
    void restore(Connection& connection, std::uint32_t nodeID);
    // The node.name of the device that `nodeID` was linked to by itself.
    std::optional<std::string> deviceOf(const GraphState& graph, std::uint32_t nodeID) const;
    bool hasMoves() const { return !moved_.empty(); }
    // Removes our links and forgets every move (the connection goes away). The
    // record stays: it is what a later connection puts back.
    void clear();

    // Keeps the record of moves in `file` from now on; none when it is empty.
    void recordIn(std::filesystem::path file) { recordFile_ = std::move(file); }
    // Links each port that the record names, and that has no link now, to the
    // device port it was moved away from; then removes the record. For a new
    // connection, before any tap moves anything.
    void restoreRecorded(Connection& connection);

private:
    struct Move {
        std::uint32_t outputPortID = 0;
        std::uint32_t devicePortID = 0;
        std::uint32_t deviceNodeID = 0;
        std::uint32_t targetNodeID = 0;
        // Where ours goes: a link there is ours, also for a moment after it was dropped.
        std::uint32_t targetPortID = 0;
        pw_proxy* ours = nullptr;
        // Both ends by node.name and port.name, which a later connection can find.
        std::string outputName;
        std::string deviceName;
    };
    static void drop(Move& move);
    void saveRecord();

    std::map<std::uint32_t, std::vector<Move>> moved_;
    std::filesystem::path recordFile_;
    std::string recorded_; // what the file holds, as last written
};

} // namespace corvalle::pw
