#include "ovalis/config.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <initializer_list>

#include "ovalis/json.h"

namespace ovalis {

namespace {

// A bad field, already worded; thrown only inside this file and turned into
// the caller's error text by parse_app_config.
struct Bad {
  std::string msg;
};

bool plain_name(std::string_view k) {
  if (k.empty()) return false;
  for (char c : k)
    if (!g_ascii_isalnum(c) && c != '_' && c != '$' && c != '-') return false;
  return true;
}

std::string member_path(const std::string& base, std::string_view key) {
  if (plain_name(key)) return base.empty() ? std::string(key) : base + "." + std::string(key);
  return base + "[" + json_quote(key) + "]";
}

std::string index_path(const std::string& base, size_t i) { return base + "[" + std::to_string(i) + "]"; }

// Characters (code points) of valid UTF-8 text.
size_t char_count(std::string_view s) { return g_utf8_strlen(s.data(), gssize(s.size())); }

// The string as the messages show it: only quote, backslash and control
// characters escaped, long strings cut to 37 characters and "...".
std::string shown_string(std::string_view s) {
  std::string cut(s);
  if (char_count(s) > 40) {
    const char* end = g_utf8_offset_to_pointer(cut.c_str(), 37);
    cut = std::string(cut.c_str(), size_t(end - cut.c_str())) + "...";
  }
  std::string out = "\"";
  for (unsigned char c : cut) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          g_snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

std::string kind(const Json& v) {
  if (v.is_null()) return "null";
  if (v.is_bool()) return v.boolean() ? "true" : "false";
  if (v.is_number()) return "a number";
  if (v.is_array()) return "an array";
  if (v.is_object()) return "an object";
  return shown_string(v.str());
}

class Checker {
 public:
  explicit Checker(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void fail(const std::string& field, const std::string& text) const {
    throw Bad{file_ + ": " + field + ": " + text};
  }
  [[noreturn]] void expected(const std::string& field, const std::string& what, const Json& got) const {
    if (got.is_number()) fail(field, "expected " + what);
    fail(field, "expected " + what + ", got " + kind(got));
  }

  void duplicates(const Json& o, const std::string& base) const {
    const JsonObject& m = o.obj();
    for (size_t i = 0; i < m.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (m[j].first == m[i].first) fail(member_path(base, m[i].first), "duplicate field");
  }

  // Refuses repeated and unknown members of an object before its values
  // are looked at.
  void members(const Json& o, const std::string& base, std::initializer_list<std::string_view> known,
               bool allow_schema = false) const {
    duplicates(o, base);
    for (auto& [k, v] : o.obj()) {
      bool ok = allow_schema && k == "$schema";
      for (auto name : known) ok = ok || k == name;
      if (!ok) fail(member_path(base, k), "unknown field");
    }
  }

 private:
  std::string file_;
};

bool one_line_text(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool relative_path(std::string_view s) {
  if (s.empty() || s[0] == '/' || !one_line_text(s) || s.find('\\') != std::string_view::npos)
    return false;
  size_t start = 0;
  while (start <= s.size()) {
    size_t slash = s.find('/', start);
    if (slash == std::string_view::npos) slash = s.size();
    if (s.substr(start, slash - start) == "..") return false;
    start = slash + 1;
  }
  return true;
}

bool ends_with_ci(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         g_ascii_strncasecmp(s.data() + s.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool app_id(std::string_view s) {
  if (s.empty() || s.size() > 255) return false;
  int parts = 0;
  size_t start = 0;
  while (start <= s.size()) {
    size_t dot = s.find('.', start);
    if (dot == std::string_view::npos) dot = s.size();
    std::string_view part = s.substr(start, dot - start);
    if (part.empty() || g_ascii_isdigit(part[0])) return false;
    for (char c : part)
      if (!g_ascii_isalnum(c) && c != '_' && c != '-') return false;
    ++parts;
    start = dot + 1;
  }
  return parts >= 2;
}

bool version_text(std::string_view s) {
  if (s.empty() || s.size() > 64 || !g_ascii_isdigit(s[0])) return false;
  for (char c : s)
    if (!g_ascii_isalnum(c) && c != '.' && c != '+' && c != '-' && c != '~') return false;
  return true;
}

bool mime_part(std::string_view p) {
  if (p.empty()) return false;
  for (char c : p)
    if (!g_ascii_isalnum(c) && std::string_view("!#$&^_.+-").find(c) == std::string_view::npos) return false;
  return true;
}

bool mime_type(std::string_view s) {
  size_t slash = s.find('/');
  return slash != std::string_view::npos && mime_part(s.substr(0, slash)) &&
         mime_part(s.substr(slash + 1));
}

bool url_scheme(std::string_view s) {
  if (s.empty() || !g_ascii_isalpha(s[0])) return false;
  for (char c : s)
    if (!g_ascii_isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

bool origin_pattern(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (c <= 0x20 || c == 0x7F) return false;
  return true;
}

bool is_url(std::string_view s) { return s.starts_with("http://") || s.starts_with("https://"); }

struct Reader {
  const Checker& ck;

  const std::string& string(const Json& v, const std::string& field, const std::string& what,
                            const std::function<bool(std::string_view)>& ok) const {
    if (!v.is_string() || !ok(v.str())) ck.expected(field, what, v);
    return v.str();
  }
  bool boolean(const Json& v, const std::string& field) const {
    if (!v.is_bool()) ck.expected(field, "true or false", v);
    return v.boolean();
  }
  int integer(const Json& v, const std::string& field, int lo, int hi) const {
    std::string what = "an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
    if (!v.is_number() || v.num() < lo || v.num() > hi || v.num() != std::floor(v.num()))
      ck.expected(field, what, v);
    return int(v.num());
  }
  void object(const Json& v, const std::string& field) const {
    if (!v.is_object()) ck.expected(field, "an object", v);
  }
  std::vector<std::string> strings(const Json& v, const std::string& field, const std::string& what,
                                   const std::string& item_what,
                                   const std::function<bool(std::string_view)>& ok,
                                   bool non_empty = false) const {
    if (!v.is_array() || (non_empty && v.arr().empty())) ck.expected(field, what, v);
    std::vector<std::string> out;
    for (size_t i = 0; i < v.arr().size(); ++i)
      out.push_back(string(v.arr()[i], index_path(field, i), item_what, ok));
    return out;
  }
};

template <typename... T>
std::function<bool(std::string_view)> one_of(T... words) {
  return [=](std::string_view s) { return ((s == words) || ...); };
}

void check_file(const Checker& ck, const std::string& dir, const std::string& field,
                const std::string& rel) {
  std::string full = dir + "/" + rel;
  if (!g_file_test(full.c_str(), G_FILE_TEST_IS_REGULAR)) ck.fail(field, "no such file: " + rel);
}

void read_window(const Reader& r, const Json& w, AppConfig& c) {
  r.object(w, "window");
  r.ck.members(w, "window", {"title", "width", "height", "chrome", "activation", "deferShow"});
  auto one_line = [](std::string_view s) { return one_line_text(s); };
  if (auto* v = w.get("title")) c.window.title = r.string(*v, "window.title", "a one-line string", one_line);
  if (auto* v = w.get("width")) c.window.width = r.integer(*v, "window.width", 1, 16384);
  if (auto* v = w.get("height")) c.window.height = r.integer(*v, "window.height", 1, 16384);
  if (auto* ch = w.get("chrome")) {
    r.object(*ch, "window.chrome");
    r.ck.members(*ch, "window.chrome",
                 {"frame", "controls", "transparent", "vibrancy", "square", "firstMouse", "menuBar"});
    c.window.has_chrome = true;
    auto flag = [&](const char* key, size_t field) {
      if (auto* v = ch->get(key))
        c.window.chrome[field] = r.boolean(*v, std::string("window.chrome.") + key) ? "1" : "0";
    };
    flag("frame", 0);
    if (auto* v = ch->get("controls")) {
      const std::string what = "\"all\", \"none\" or an array of \"close\", \"minimize\" and \"maximize\"";
      if (v->is_string()) {
        c.window.chrome[1] = r.string(*v, "window.chrome.controls", what, one_of("all", "none"));
      } else if (v->is_array()) {
        auto names = r.strings(*v, "window.chrome.controls", what,
                               "\"close\", \"minimize\" or \"maximize\"",
                               one_of("close", "minimize", "maximize"));
        std::string joined;
        for (auto& n : names) joined += (joined.empty() ? "" : ",") + n;
        c.window.chrome[1] = joined.empty() ? "none" : joined;
      } else {
        r.ck.expected("window.chrome.controls", what, *v);
      }
    }
    flag("transparent", 2);
    if (auto* v = ch->get("vibrancy")) {
      c.window.chrome[3] = r.string(*v, "window.chrome.vibrancy", "a one-line string",
                                    [](std::string_view s) { return one_line_text(s); });
    }
    flag("square", 4);
    flag("firstMouse", 5);
    flag("menuBar", 6);
  }
  if (auto* v = w.get("activation"))
    c.window.accessory = r.string(*v, "window.activation", "\"regular\" or \"accessory\"",
                                  one_of("regular", "accessory")) == "accessory";
  if (auto* v = w.get("deferShow")) c.window.defer_show = r.boolean(*v, "window.deferShow");
}

void read_backend(const Reader& r, const Json& b, AppConfig& c) {
  r.object(b, "backend");
  r.ck.members(b, "backend", {"command", "build", "watch"});
  auto non_empty = [](std::string_view s) { return !s.empty(); };
  const Json* cmd = b.get("command");
  if (!cmd) r.ck.fail("backend.command", "missing (expected a non-empty array of strings)");
  c.backend.command = r.strings(*cmd, "backend.command", "a non-empty array of strings",
                                "a non-empty string", non_empty, true);
  if (auto* v = b.get("build"))
    c.backend.build = r.strings(*v, "backend.build", "a non-empty array of strings",
                                "a non-empty string", non_empty, true);
  if (auto* v = b.get("watch"))
    c.backend.watch = r.strings(*v, "backend.watch", "an array of relative paths", "a relative path",
                                [](std::string_view s) { return relative_path(s); });
}

void read_api(const Reader& r, const Json& a) {
  r.object(a, "api");
  r.ck.members(a, "api", {"origins", "media"});
  if (auto* o = a.get("origins")) {
    r.object(*o, "api.origins");
    r.ck.duplicates(*o, "api.origins");  // its names are patterns, so none is unknown
  }
}

}  // namespace

bool origin_glob(std::string_view p, std::string_view t) {
  // Iterative matching with one remembered star: linear in practice and
  // never deep recursion on hostile patterns.
  size_t pi = 0, ti = 0, star = std::string_view::npos, mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ti;
    } else if (pi < p.size() && p[pi] == t[ti]) {
      ++pi;
      ++ti;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::optional<AppConfig> parse_app_config(std::string_view text, const std::string& file,
                                          const std::string& dir, std::string* error) {
  auto fail = [&](std::string m) -> std::optional<AppConfig> {
    if (error) *error = std::move(m);
    return std::nullopt;
  };
  if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr)) return fail(file + ": not UTF-8 text");
  size_t at = 0;
  auto doc = json_parse_document(text, &at);
  if (!doc) {
    size_t line = 1, col = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i) {
      unsigned char ch = text[i];
      if (ch == '\n') {
        ++line;
        col = 1;
      } else if ((ch & 0xC0) != 0x80) {
        ++col;
      }
    }
    return fail(file + ": invalid JSON at line " + std::to_string(line) + ", column " + std::to_string(col));
  }
  if (!doc->is_object()) return fail(file + ": expected a JSON object, got " + kind(*doc));

  Checker ck(file);
  Reader r{ck};
  AppConfig c;
  c.file = file;
  c.dir = dir;
  try {
    const Json& d = *doc;
    ck.members(d, "", {"id", "name", "version", "description", "icon", "page", "window", "backend",
                       "api", "downloads", "popups", "opens", "automation"},
               true);
    auto need = [&](const char* key, const std::string& what) -> const Json& {
      const Json* v = d.get(key);
      if (!v) ck.fail(key, "missing (expected " + what + ")");
      return *v;
    };
    auto one_line = [](std::string_view s) { return one_line_text(s); };

    const std::string id_what = "an application id such as \"org.example.Hello\"";
    c.id = r.string(need("id", id_what), "id", id_what, app_id);
    const std::string name_what = "a non-empty one-line string";
    c.name = r.string(need("name", name_what), "name", name_what,
                      [](std::string_view s) { return !s.empty() && one_line_text(s); });
    const std::string version_what = "a version such as \"1.0.0\"";
    c.version = r.string(need("version", version_what), "version", version_what, version_text);
    if (auto* v = d.get("description")) c.description = r.string(*v, "description", "a one-line string", one_line);
    if (auto* v = d.get("icon")) {
      c.icon = r.string(*v, "icon", "a relative path to a .png or .svg file", [](std::string_view s) {
        return relative_path(s) && (ends_with_ci(s, ".png") || ends_with_ci(s, ".svg"));
      });
      check_file(ck, dir, "icon", c.icon);
    }
    const std::string page_what = "a relative path to an HTML file or an http(s) URL";
    c.page = r.string(need("page", page_what), "page", page_what, [](std::string_view s) {
      return (is_url(s) && one_line_text(s)) || relative_path(s);
    });
    if (!is_url(c.page)) check_file(ck, dir, "page", c.page);
    c.window.title = c.name;
    if (auto* v = d.get("window")) read_window(r, *v, c);
    read_backend(r, need("backend", "an object"), c);
    if (auto* a = d.get("api")) {
      read_api(r, *a);
      if (auto* o = a->get("origins")) {
        const std::string grants_what =
            "\"calls\", \"media.proxy\", \"media.camera\" or \"media.microphone\"";
        for (auto& [pattern, grants] : o->obj()) {
          std::string field = member_path("api.origins", pattern);
          if (!origin_pattern(pattern))
            ck.fail(field, "expected an origin pattern such as \"http://127.0.0.1:*\"");
          c.origins.push_back({pattern, r.strings(grants, field, "an array of grants", grants_what,
                                                  one_of("calls", "media.proxy", "media.camera",
                                                         "media.microphone"))});
        }
      }
      if (auto* m = a->get("media"))
        c.media = r.strings(*m, "api.media", "an array of \"camera\" and \"microphone\"",
                            "\"camera\" or \"microphone\"", one_of("camera", "microphone"));
    }
    if (auto* v = d.get("downloads"))
      c.downloads = r.string(*v, "downloads", "\"auto\", \"ask\" or \"deny\"", one_of("auto", "ask", "deny"));
    if (auto* v = d.get("popups"))
      c.popups = r.string(*v, "popups", "\"external\", \"window\" or \"deny\"",
                          one_of("external", "window", "deny"));
    if (auto* o = d.get("opens")) {
      r.object(*o, "opens");
      ck.members(*o, "opens", {"mimeTypes", "schemes"});
      if (auto* v = o->get("mimeTypes"))
        c.mime_types = r.strings(*v, "opens.mimeTypes", "an array of strings",
                                 "a MIME type such as \"text/plain\"", mime_type);
      if (auto* v = o->get("schemes")) {
        c.schemes = r.strings(*v, "opens.schemes", "an array of strings", "a URL scheme such as \"myapp\"",
                              url_scheme);
        for (auto& s : c.schemes)
          for (auto& ch : s) ch = g_ascii_tolower(ch);
      }
    }
    if (auto* v = d.get("automation")) c.automation = r.boolean(*v, "automation");
  } catch (const Bad& b) {
    return fail(b.msg);
  }
  return c;
}

std::optional<AppConfig> load_app_config(const std::string& path, std::string* error) {
  std::string dir, file;
  if (path.empty()) {
    const char* env = g_getenv("OVALIS_APP_DIR");
    if (env && *env) {
      dir = env;
      file = dir + "/ovalis.json";
    } else {
      dir = ".";
      file = "ovalis.json";
    }
  } else if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
    dir = path;
    file = (path.ends_with("/") ? path : path + "/") + "ovalis.json";
  } else {
    file = path;
    gchar* d = g_path_get_dirname(path.c_str());
    dir = d;
    g_free(d);
  }
  // Absolute, so that page and icon paths survive a change of folder.
  gchar* abs = g_canonicalize_filename(dir.c_str(), nullptr);
  dir = abs;
  g_free(abs);

  std::string text;
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  int e = 0;
  if (fd < 0) {
    e = errno;
  } else if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    e = EISDIR;
  } else {
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        e = errno;
        break;
      }
      text.append(buf, size_t(n));
    }
  }
  if (fd >= 0) close(fd);
  if (e) {
    if (error) *error = file + ": cannot read: " + g_strerror(e);
    return std::nullopt;
  }
  return parse_app_config(text, file, dir, error);
}

std::string AppConfig::page_target() const { return page_is_url() ? page : dir + "/" + page; }
bool AppConfig::page_is_url() const { return is_url(page); }
std::string AppConfig::icon_path() const { return icon.empty() ? std::string() : dir + "/" + icon; }

std::string AppConfig::socket_path() const {
  const char* rt = g_getenv("XDG_RUNTIME_DIR");
  return std::string(rt && *rt ? rt : "/tmp") + "/" + id + ".sock";
}

std::vector<std::pair<std::string, std::string>> AppConfig::launcher_env() const {
  std::vector<std::pair<std::string, std::string>> env{{"OVALIS_APP_ID", id}};
  if (!icon.empty()) env.emplace_back("OVALIS_ICON", icon_path());
  if (window.has_chrome) {
    std::string fields;
    for (size_t i = 0; i < window.chrome.size(); ++i) fields += (i ? "\t" : "") + window.chrome[i];
    env.emplace_back("OVALIS_CHROME", fields);
  }
  if (window.accessory) env.emplace_back("OVALIS_ACTIVATION", "accessory");
  if (window.defer_show) env.emplace_back("OVALIS_DEFER_SHOW", "1");
  if (!downloads.empty()) env.emplace_back("OVALIS_DOWNLOADS", downloads);
  if (!popups.empty()) env.emplace_back("OVALIS_POPUPS", popups);
  if (automation) env.emplace_back("OVALIS_AUTOMATION", "1");
  if (!media.empty()) {
    std::string joined;
    for (auto& m : media) joined += (joined.empty() ? "" : ",") + m;
    env.emplace_back("OVALIS_MEDIA", joined);
  }
  std::string rules;
  for (auto& o : origins)
    for (auto& g : o.grants) {
      std::string key = g == "media.proxy" ? "proxy" : g == "media.camera" ? "camera"
                        : g == "media.microphone" ? "microphone" : "";
      if (key.empty()) continue;
      rules += (rules.empty() ? "" : "\n") + key + " " + o.pattern;
    }
  if (!rules.empty()) env.emplace_back("OVALIS_MEDIA_ORIGINS", rules);
  return env;
}

bool AppConfig::calls_allowed(std::string_view origin) const {
  if (origin == "file://") return true;
  if (page_is_url()) {
    // The page's own origin: scheme://host[:port] as the launcher reports it.
    GUri* u = g_uri_parse(page.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (u) {
      std::string own = std::string(g_uri_get_scheme(u)) + "://" + (g_uri_get_host(u) ? g_uri_get_host(u) : "");
      int port = g_uri_get_port(u);
      std::string scheme = g_uri_get_scheme(u);
      if (port > 0 && !(scheme == "http" && port == 80) && !(scheme == "https" && port == 443))
        own += ":" + std::to_string(port);
      g_uri_unref(u);
      if (origin == own) return true;
    }
  }
  for (auto& o : origins)
    for (auto& g : o.grants)
      if (g == "calls" && origin_glob(o.pattern, origin)) return true;
  return false;
}

}  // namespace ovalis
