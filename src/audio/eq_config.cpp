#include "audio/eq_config.h"

#include <cstdlib>

#include "core/wire.h"

namespace {

double num(const std::string& s) { return ascii_num(s); }

std::vector<std::string> split(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    out.emplace_back(s.substr(start, p == std::string_view::npos ? p : p - start));
    if (p == std::string_view::npos) return out;
    start = p + 1;
  }
}

// A label goes into the configuration as a quoted string, so a label holding
// blanks, braces or quotes cannot add nodes or properties of its own.
std::string spa_string(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::vector<std::string> node_names(size_t i, bool mono) {
  std::string base = "f" + std::to_string(i);
  if (mono) return {base};
  return {base + "L", base + "R"};
}

double gain_for(const EqFilter& f, bool right) { return f.has_gain_r && right ? f.gain_r : f.gain; }

// A plain gain is served by the "mixer" builtin with one input: every
// filter-chain release has it, while the "linear" builtin is missing from
// older ones, where naming it makes the whole chain fail to load.
bool is_gain(const EqFilter& f) { return f.type == "linear"; }
std::string label_of(const EqFilter& f) { return is_gain(f) ? "mixer" : f.type; }
const char* in_port(const EqFilter& f) { return is_gain(f) ? ":In 1" : ":In"; }

// Finds the id of the node named $OVALIS_EQ_NODE in "pw-cli ls Node" and
// leaves it in $id. The name is taken from the listing line and compared
// whole with the wanted name.
const char* kFindNode =
    "id=$(pw-cli ls Node 2>/dev/null | awk '"
    "/^[[:space:]]*id [0-9]+/{i=$2; gsub(/[^0-9]/,\"\",i)} "
    "$1 == \"node.name\" && $2 == \"=\" {v=$0; sub(/^[^\"]*\"/,\"\",v); sub(/\"$/,\"\",v); "
    "if (v == ENVIRON[\"OVALIS_EQ_NODE\"]) {print i; exit}}'); ";

}  // namespace

std::string eq_num(double v) { return ascii_num_text(v); }

std::vector<EqFilter> eq_parse_filters(std::string_view payload) {
  std::vector<EqFilter> eq;
  if (payload.empty()) return eq;
  for (const std::string& spec : split(payload, '\t')) {
    if (spec.empty()) continue;
    std::vector<std::string> f = split(spec, ',');
    if (f.size() < 4) continue;
    EqFilter e;
    e.type = f[0];
    e.freq = num(f[1]);
    e.q = num(f[2]);
    e.gain = num(f[3]);
    e.gain_r = e.gain;
    if (f.size() > 4 && !f[4].empty()) {
      e.gain_r = num(f[4]);
      e.has_gain_r = true;
    }
    eq.push_back(std::move(e));
  }
  size_t cap = eq_is_mono(eq) ? kEqMaxMono : kEqMaxStereo;
  if (eq.size() > cap) eq.resize(cap);
  return eq;
}

bool eq_is_mono(const std::vector<EqFilter>& eq) {
  for (const EqFilter& f : eq)
    if (f.has_gain_r) return false;
  return true;
}

bool eq_same_shape(const std::vector<EqFilter>& a, const std::vector<EqFilter>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].type != b[i].type || a[i].has_gain_r != b[i].has_gain_r) return false;
  return true;
}

std::string eq_node_ctrl(const EqFilter& f, bool right) {
  std::string g = eq_num(gain_for(f, right));
  if (is_gain(f)) return "\"Gain 1\" = " + g;
  return "\"Freq\" = " + eq_num(f.freq) + " \"Q\" = " + eq_num(f.q) + " \"Gain\" = " + g;
}

std::string eq_config(const std::vector<EqFilter>& eq, const std::string& sink) {
  bool mono = eq_is_mono(eq);
  std::string qsink = spa_string(sink);
  std::string t = "{ node.name = " + qsink +
                  " media.class = Audio/Sink\n  filter.graph = {\n    nodes = [\n";
  for (size_t i = 0; i < eq.size(); ++i) {
    for (const std::string& n : node_names(i, mono)) {
      bool right = !mono && n.back() == 'R';
      t += "{ type = builtin name = " + n + " label = " + spa_string(label_of(eq[i])) +
           " control = { " + eq_node_ctrl(eq[i], right) + " } }\n";
    }
  }
  t += "    ]\n    links = [\n";
  for (size_t i = 1; i < eq.size(); ++i) {
    for (const char* side : mono ? std::vector<const char*>{""} : std::vector<const char*>{"L", "R"}) {
      t += "{ output = \"f" + std::to_string(i - 1) + side + ":Out\" input = \"f" +
           std::to_string(i) + side + in_port(eq[i]) + "\" }\n";
    }
  }
  std::string last = std::to_string(eq.empty() ? 0 : eq.size() - 1);
  t += "    ]\n    inputs  = [ ";
  std::string in0 = eq.empty() ? ":In" : in_port(eq[0]);
  t += mono ? "\"f0" + in0 + "\"" : "\"f0L" + in0 + "\" \"f0R" + in0 + "\"";
  t += " ]\n    outputs = [ ";
  t += mono ? "\"f" + last + ":Out\"" : "\"f" + last + "L:Out\" \"f" + last + "R:Out\"";
  t += " ]\n  }\n  capture.props  = { node.name = " + qsink +
       " media.class = Audio/Sink audio.position = [ FL FR ] }\n  playback.props = { node.name = " +
       spa_string(sink + "-out") + " node.passive = true audio.position = [ FL FR ] }\n}";
  return t;
}

std::vector<std::string> eq_param_entries(const std::vector<EqFilter>& eq, int index, bool mono) {
  std::vector<std::string> out;
  for (size_t i = 0; i < eq.size(); ++i) {
    if (index >= 0 && static_cast<size_t>(index) != i) continue;
    const EqFilter& f = eq[i];
    for (const std::string& n : node_names(i, mono)) {
      std::string g = eq_num(gain_for(f, !mono && n.back() == 'R'));
      if (is_gain(f)) {
        out.push_back("\"" + n + ":Gain 1\" " + g);
      } else {
        out.push_back("\"" + n + ":Freq\" " + eq_num(f.freq));
        out.push_back("\"" + n + ":Q\" " + eq_num(f.q));
        out.push_back("\"" + n + ":Gain\" " + g);
      }
    }
  }
  return out;
}

std::string eq_push_script(const std::vector<std::string>& entries) {
  std::string s = kFindNode;
  s += "[ -n \"$id\" ] || exit 0; ";
  for (size_t i = 0; i < entries.size(); i += 18) {
    s += "pw-cli set-param \"$id\" Props '{ params = [ ";
    for (size_t k = i; k < entries.size() && k < i + 18; ++k) s += entries[k] + " ";
    s += "] }' >/dev/null 2>&1; ";
  }
  return s;
}

std::string eq_route_script() {
  return "pw-cli ls Node 2>/dev/null | awk '"
         "BEGIN{n=split(ENVIRON[\"OVALIS_EQ_NAMES\"],w,\"\\n\"); for(k=1;k<=n;k++) if(w[k]!=\"\") want[w[k]]=1} "
         "/^[[:space:]]*id [0-9]+/{id=$2; gsub(/[^0-9]/,\"\",id)} "
         "$1 == \"node.name\" && $2 == \"=\" {v=$0; sub(/^[^\"]*\"/,\"\",v); sub(/\"$/,\"\",v); "
         "if (v in want) print id}' | while read n; do "
         "pw-metadata \"$n\" target.object \"$OVALIS_EQ_TARGET\" >/dev/null 2>&1; done";
}

std::pair<double, double> eq_balance_volumes(double b) {
  if (b < -1) return {1, 0};
  if (b > 1) return {0, 1};
  return {b > 0 ? 1 - b : 1, b < 0 ? 1 + b : 1};
}

std::string eq_balance_script(double b) {
  auto [l, r] = eq_balance_volumes(b);
  return std::string(kFindNode) + "[ -n \"$id\" ] && pw-cli set-param \"$id\" Props '{ channelVolumes = [ " +
         eq_num(l) + ", " + eq_num(r) + " ] }' >/dev/null 2>&1";
}

bool eq_parse_set(std::string_view rest, EqSet& out) {
  std::vector<std::string> f = split(rest, '\t');
  if (f.size() < 4) return false;
  out.index = std::strtol(f[0].c_str(), nullptr, 10);
  out.freq = num(f[1]);
  out.q = num(f[2]);
  out.gain = num(f[3]);
  return true;
}
