// Permission questions of the backend.
#include "content/content.h"
#include "core/dispatch.h"

void do_perm(std::string_view id, std::string_view name) {
  bool known = name == "accessibility" || name == "screen" || name == "notifications" ||
               name == "microphone" || name == "camera";
  send_got(id, known ? "{\"status\":\"granted\"}" : "{\"status\":\"unsupported\"}");
}
