// The backend's side of the wire text: reading page calls, and building the
// lines the demo sends back. Pure functions, so they can be tested alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "demo_json.h"

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

// "RET <call-id> 0|1 <json>".
std::string ret_line(std::string_view call_id, bool ok, const Json& answer);

// An "EVAL" line that delivers {event, data} to the page's event hub of the
// given window; harmless in a document without the hub.
std::optional<std::string> emit_line(std::string_view window, std::string_view event,
                                     const Json& data);
