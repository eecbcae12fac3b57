// The backend's side of the wire text: reading page calls and answers, and
// building the lines a backend sends. Pure functions, so they can be tested alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ovalis/json.h"

namespace ovalis {

// One page call, decoded from "CALL <window>:<seq> [<payload>,<origin>]".
struct PageCall {
  std::string call_id;  // "<window>:<seq>", echoed in the answer as it came
  std::string window;   // the part before the last ':'
  std::string origin;
  std::string method;   // empty when the payload names none
  Json params;          // null when the payload has no "params"
  std::string error;    // set when the line has a call id but no usable payload
};

// The rest of a "CALL " line (after the keyword). nullopt when not even a
// call id can be read; then nobody can be answered.
std::optional<PageCall> parse_call(std::string_view rest);

// Escapes text for a command field that the launcher unescapes: backslash,
// line feed, carriage return and tab become two-byte escapes.
std::string wire_escape(std::string_view s);

// Text for a field that the launcher takes as it stands: every control
// character (line breaks above all, which would end the line and start a
// new command) becomes a blank.
std::string one_line(std::string_view s);

// "KW" for the main window, "KW@<window>" for another. nullopt when the id
// cannot be written in that form (a blank or control character in it).
std::optional<std::string> targeted(std::string_view keyword, std::string_view window);

// The launcher's reading of an escaped field: backslash-n, -t and -r stand
// for the control characters, a backslash before any other byte for that
// byte, and a lone trailing backslash stays.
std::string wire_unescape(std::string_view s);

// Splits at every tab, empty fields included: N tabs give N + 1 fields.
std::vector<std::string> split_tabs(std::string_view s);

// Joins fields with tabs after escaping each one (for fields the launcher
// unescapes). Tabs or line breaks inside a field never split it.
std::string escaped_fields(const std::vector<std::string>& fields);

// Joins fields with tabs, making each one a single line with no tab (for
// fields the launcher takes as they stand).
std::string plain_fields(const std::vector<std::string>& fields);

// Cuts a byte stream into lines: everything before each line feed is one
// line; empty lines are dropped and an unfinished tail waits for more bytes.
class LineFramer {
 public:
  template <class F>
  void feed(std::string_view bytes, F&& on_line) {
    buf_.append(bytes);
    size_t start = 0, nl;
    while ((nl = buf_.find('\n', start)) != std::string::npos) {
      if (nl > start) on_line(std::string_view(buf_).substr(start, nl - start));
      start = nl + 1;
    }
    buf_.erase(0, start);
  }
  size_t pending() const { return buf_.size(); }

 private:
  std::string buf_;
};

// One "GOT <id> <json>" answer (the rest after "GOT "). The value is null
// when the JSON text does not parse (the launcher's answers always do).
struct Got {
  std::string id;
  Json value;
  bool parsed = false;
};
std::optional<Got> parse_got(std::string_view rest);

// "RET <call-id> 0|1 <json>".
std::string ret_line(std::string_view call_id, bool ok, const Json& answer);

// An "EVAL" line that delivers {event, data} to the page's event hub of the
// given window; harmless in a document without the hub.
std::optional<std::string> emit_line(std::string_view window, std::string_view event,
                                     const Json& data);

}  // namespace ovalis
