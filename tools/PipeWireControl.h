// A short-lived PipeWire client for `vurnel desktop`: connects to the user's daemon, finds a
// node by its node.name, reads and sets the named controls of its Props param (the
// "params" struct a filter-chain keeps as "<node>:<port symbol>" <value> pairs) and reads the
// default output from the "default" metadata object. Every call waits for the daemon's answer
// (a round trip) with a time limit, so nothing here hangs when the daemon does not answer.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vurnel::host {

// The daemon refused something or did not answer in time.
struct PipeWireError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PipeWireControl {
public:
    // Connects to the daemon the environment names (PIPEWIRE_REMOTE, XDG_RUNTIME_DIR). Never
    // throws for a missing daemon: Connected() is then false and Problem() says why.
    PipeWireControl();
    ~PipeWireControl();
    PipeWireControl(const PipeWireControl&) = delete;
    PipeWireControl& operator=(const PipeWireControl&) = delete;

    bool Connected() const;
    const std::string& Problem() const;

    // True when a node with this node.name exists; binds it for the calls below.
    bool FindNode(const std::string& nodeName);

    // The bound node's Props "params" entries that hold a number, by name.
    std::map<std::string, float> ReadControls();

    // Sets the named controls on the bound node in one Props param, then waits until the
    // daemon has taken it.
    void SetControls(const std::vector<std::pair<std::string, float>>& controls);

    // For a client that stays: asks the daemon to send the bound node's Props whenever they
    // change, from whoever changes them.
    void WatchControls();
    // The connection's descriptor: readable when the daemon sent something.
    int Descriptor() const;
    // Handles what the daemon sent, without waiting. Returns the controls of a Props param that
    // arrived (the newest), or nothing. Throws PipeWireError when the daemon complained or went.
    std::optional<std::map<std::string, float>> TakeChanges();

    // The node.name of the default audio output (default.audio.sink in the "default"
    // metadata), if the session manager set one.
    std::optional<std::string> DefaultSink();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace vurnel::host
