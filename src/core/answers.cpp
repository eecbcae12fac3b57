// The answer lines of request-style commands.
#include "core/dispatch.h"
#include "core/wire.h"

void send_got(std::string_view id, std::string_view json) {
  std::string line;
  line.reserve(id.size() + json.size() + 5);
  line += "GOT ";
  line += id;
  line += ' ';
  line += json;
  pipe_write_line(line);
}

void got_unsupported(std::string_view id, std::string_view message) {
  std::string json = "{\"ok\":false,\"error\":";
  json_escape_to(json, message);
  json += '}';
  send_got(id, json);
}
