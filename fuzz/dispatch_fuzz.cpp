// Keyword matching: any line maps to at most one command, the argument
// views lie inside the line, and matching is stable under a trailing
// unrelated line (the framer never joins lines).
#include <cstdint>
#include <cstdlib>

#include "core/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  CmdMatch m = match_command(in);
  auto inside = [&](std::string_view v) {
    return v.empty() || (v.data() >= in.data() && v.data() + v.size() <= in.data() + in.size());
  };
  if (!inside(m.id) || !inside(m.rest) || !(inside(m.win) || m.win == "main")) std::abort();
  if (m.cmd == Cmd::None && (!m.id.empty() || !m.rest.empty() || !m.win.empty())) std::abort();
  // The keyword itself is where the line starts (the "AI" rows carry blanks).
  if (m.cmd != Cmd::None) {
    std::string_view kw = cmd_keyword(m.cmd);
    while (!kw.empty() && (kw.back() == ' ' || kw.back() == '@')) kw.remove_suffix(1);
    if (!in.starts_with(kw)) std::abort();
  }
  // Same text, copied elsewhere: same answer.
  std::string copy(in);
  CmdMatch again = match_command(copy);
  if (again.cmd != m.cmd || again.rest != m.rest || again.id != m.id || again.win != m.win)
    std::abort();
  return 0;
}
