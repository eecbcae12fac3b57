// The equalizer's text: filter specs from the wire, the filter-chain
// configuration, and the shell scripts that find nodes and push values.
// Pure code; no PipeWire, no process.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One filter of the chain.
struct EqFilter {
  std::string type;  // a filter-chain builtin label; only "linear" is interpreted
  double freq = 0;
  double q = 0;
  double gain = 0;
  double gain_r = 0;
  bool has_gain_r = false;
};

// Chain lengths the filter-chain module is known to accept: one graph node
// per filter in mono mode, two in stereo mode.
constexpr size_t kEqMaxMono = 28;
constexpr size_t kEqMaxStereo = 15;

// "%.6g" with a decimal point in every locale.
std::string eq_num(double v);

// Tab-separated "type,freq,q,gain[,gain_r]" specs, cut to the chain limit.
// Specs with fewer than four comma fields are skipped.
std::vector<EqFilter> eq_parse_filters(std::string_view payload);

// True when no filter carries its own right-channel gain.
bool eq_is_mono(const std::vector<EqFilter>& eq);

// Same count, types and per-filter right gains: values can be pushed into a
// running chain of shape a without rebuilding it for b.
bool eq_same_shape(const std::vector<EqFilter>& a, const std::vector<EqFilter>& b);

// The "control" body of one graph node.
std::string eq_node_ctrl(const EqFilter& f, bool right);

// The filter-chain module arguments for the chain, with the capture side
// named sink and the playback side sink + "-out".
std::string eq_config(const std::vector<EqFilter>& eq, const std::string& sink);

// "\"f<i>[L|R]:<Control>\" <value>" entries for one filter (index >= 0) or
// all of them (index < 0).
std::vector<std::string> eq_param_entries(const std::vector<EqFilter>& eq, int index, bool mono);

// Environment variables that carry names into the scripts below. Names are
// never pasted into script text: the scripts read them and compare them as
// plain strings, so no name can change what the shell or awk runs.
inline constexpr const char* kEqEnvNode = "OVALIS_EQ_NODE";      // node to look up
inline constexpr const char* kEqEnvNames = "OVALIS_EQ_NAMES";    // stream names, one a line
inline constexpr const char* kEqEnvTarget = "OVALIS_EQ_TARGET";  // sink to route to

// Sets the entries on the node named by $OVALIS_EQ_NODE, at most 18 a call.
std::string eq_push_script(const std::vector<std::string>& entries);

// Points every node whose name is a line of $OVALIS_EQ_NAMES at the sink
// $OVALIS_EQ_TARGET; an empty target clears the choice, back to the default.
std::string eq_route_script();

// Left and right channel volumes for a balance of -1 (left) ... 1 (right).
std::pair<double, double> eq_balance_volumes(double b);

// Sets the channel volumes of the node named by $OVALIS_EQ_NODE.
std::string eq_balance_script(double b);

// "AUDIOFILTERSET " fields: index, freq, q, gain. False with fewer than four.
struct EqSet {
  long index = 0;
  double freq = 0, q = 0, gain = 0;
};
bool eq_parse_set(std::string_view rest, EqSet& out);
