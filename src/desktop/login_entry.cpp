// Desktop Entry text for the login item.
#include "desktop/login_entry.h"

namespace {

// A string value: backslash and the control characters a line cannot hold
// are escaped, and a leading blank is kept as "\s".
void add_string_value(std::string& out, std::string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ':
        out += i == 0 ? "\\s" : " ";
        break;
      default: out += c;
    }
  }
}

// One Exec argument: quoted, with '"', '`', '$' and '\' escaped inside the
// quotes and '%' doubled so it is no field code. The whole is then a string
// value, whose own escaping doubles the backslashes once more.
std::string exec_argument(std::string_view exe) {
  std::string quoted = "\"";
  for (char c : exe) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  add_string_value(out, quoted);
  return out;
}

}  // namespace

std::string autostart_entry_text(std::string_view name, std::string_view exe) {
  std::string t = "[Desktop Entry]\nType=Application\nName=";
  add_string_value(t, name);
  t += "\nExec=";
  t += exec_argument(exe);
  t += "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  return t;
}

std::string autostart_file_name(std::string_view app_id) {
  std::string name = app_id.empty() ? "ovalis-app" : std::string(app_id);
  for (char& c : name)
    if (c == '/') c = '_';
  return name + ".desktop";
}
