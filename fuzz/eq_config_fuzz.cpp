// Fuzz target for the equalizer's filter specs: any payload must parse into
// a chain within the limits, and the text built from it must keep every
// outside byte inside quoted strings.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio/eq_config.h"

static void check(bool ok) {
  if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::vector<EqFilter> eq = eq_parse_filters(in);
  bool mono = eq_is_mono(eq);
  check(eq.size() <= (mono ? kEqMaxMono : kEqMaxStereo));
  std::string cfg = eq_config(eq, "ovalis-eq-1");
  // Braces outside quoted strings balance: a label cannot close the graph.
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < cfg.size(); ++i) {
    char c = cfg[i];
    if (quoted) {
      if (c == '\\') ++i;
      else if (c == '"') quoted = false;
      continue;
    }
    if (c == '"') quoted = true;
    else if (c == '{') ++depth;
    else if (c == '}') check(--depth >= 0);
  }
  check(depth == 0 && !quoted);
  std::string push = eq_push_script(eq_param_entries(eq, -1, mono));
  size_t quotes = 0;
  for (char c : push) quotes += c == '\'';
  check(quotes % 2 == 0);
  EqSet s;
  eq_parse_set(in, s);
  return 0;
}
