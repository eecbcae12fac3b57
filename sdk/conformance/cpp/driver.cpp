// Plays the conformance scenarios with the C++ backend library:
//   conformance_cpp_driver <launcher> <scenario.json>...
// See sdk/conformance/README.md for the format and the contract.
#include <glib.h>
#include <glib/gstdio.h>
#include <libsoup/soup.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ovalis/backend.h"

namespace {

using ovalis::Json;

struct Failure {
  std::string why;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{"cannot read " + path};
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs the default main context until cond holds or the time is up.
bool spin_until(const std::function<bool()>& cond, int ms) {
  gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
  // A ticking timer keeps the blocking iteration below from sleeping past
  // the deadline.
  guint tick = g_timeout_add(20, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  while (!cond() && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(tick);
  return cond();
}

std::string big(size_t n) {
  static const std::string unit = "ovalis-0123456789-";
  std::string out;
  out.reserve(n);
  while (out.size() < n) out += unit;
  out.resize(n);
  return out;
}

// "$big:N" strings become N characters of the pattern.
Json expand(const Json& j) {
  if (j.is_string() && j.str().rfind("$big:", 0) == 0) return Json(big(std::stoul(j.str().substr(5))));
  if (j.is_array()) {
    ovalis::JsonArray a;
    for (auto& e : j.arr()) a.push_back(expand(e));
    return Json(std::move(a));
  }
  if (j.is_object()) {
    ovalis::JsonObject o;
    for (auto& [k, v] : j.obj()) o.emplace_back(k, expand(v));
    return Json(std::move(o));
  }
  return j;
}

// Every occurrence of token in the strings of j becomes text.
Json replaced(const Json& j, const std::string& token, const std::string& text) {
  if (j.is_string()) {
    std::string v = j.str();
    for (size_t at = v.find(token); at != std::string::npos; at = v.find(token, at + text.size()))
      v.replace(at, token.size(), text);
    return Json(std::move(v));
  }
  if (j.is_array()) {
    ovalis::JsonArray a;
    for (auto& e : j.arr()) a.push_back(replaced(e, token, text));
    return Json(std::move(a));
  }
  if (j.is_object()) {
    ovalis::JsonObject o;
    for (auto& [k, v] : j.obj()) o.emplace_back(k, replaced(v, token, text));
    return Json(std::move(o));
  }
  return j;
}

std::string shown(const Json& j) {
  std::string s = ovalis::json_dump(j);
  return s.size() > 300 ? s.substr(0, 300) + "..." : s;
}

bool matches(const Json& want, const Json& got) {
  if (want.is_string() && want.str() == "$any") return true;
  if (want.is_object()) {
    if (!got.is_object()) return false;
    for (auto& [k, v] : want.obj()) {
      const Json* g = got.get(k);
      if (!g || !matches(v, *g)) return false;
    }
    return true;
  }
  if (want.is_array()) {
    if (!got.is_array() || got.arr().size() != want.arr().size()) return false;
    for (size_t i = 0; i < want.arr().size(); ++i)
      if (!matches(want.arr()[i], got.arr()[i])) return false;
    return true;
  }
  if (want.is_number()) return got.is_number() && got.num() == want.num();
  return ovalis::json_dump(want) == ovalis::json_dump(got);
}

void expect(const Json& want, const Json& got, const std::string& what) {
  if (!matches(want, got)) throw Failure{what + ": expected " + shown(want) + ", got " + shown(got)};
}

const Json& arg(const Json& args, size_t i) {
  static const Json null;
  return args.is_array() && i < args.arr().size() ? args.arr()[i] : null;
}
std::string sarg(const Json& args, size_t i) {
  const Json& a = arg(args, i);
  return a.is_string() ? a.str() : std::string();
}
std::vector<std::string> strings(const Json& j) {
  std::vector<std::string> out;
  if (j.is_array())
    for (auto& e : j.arr()) out.push_back(e.is_string() ? e.str() : ovalis::json_dump(e));
  return out;
}

// The number of UTF-16 units of UTF-8 text, as the page's String.length.
// n bytes of the page's T.bytes(n): byte i is i % 251.
ovalis::Bytes pattern(size_t n) {
  ovalis::Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i % 251);
  return b;
}

size_t utf16_length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
    if (c >= 0xF0) ++n;
  }
  return n;
}

std::vector<ovalis::line::MenuItem> menu_items(const Json& items) {
  using ovalis::line::MenuItem;
  std::vector<MenuItem> out;
  if (!items.is_array()) return out;
  for (auto& i : items.arr()) {
    if (i.bool_or("sep")) {
      out.push_back(MenuItem::separator());
    } else if (i.get("role")) {
      out.push_back(MenuItem::stock(i.str_or("role")));
    } else if (i.get("sub")) {
      const Json* kids = i.get("items");
      out.push_back(MenuItem::sub(i.str_or("sub"), i.str_or("label"), menu_items(kids ? *kids : Json())));
    } else {
      MenuItem m = MenuItem::item(i.str_or("id"), i.str_or("label"), i.str_or("accel"));
      m.checked = i.bool_or("checked");
      m.disabled = i.bool_or("disabled");
      out.push_back(m);
    }
  }
  return out;
}

class Player {
 public:
  Player(std::string launcher, std::string page_template, Json scenario)
      : launcher_(std::move(launcher)), template_(std::move(page_template)), s_(std::move(scenario)) {}
  ~Player() {
    if (server_) {
      soup_server_disconnect(server_);
      g_object_unref(server_);
    }
    if (!dir_.empty()) {
      g_remove(page_.c_str());
      if (!open_path_.empty()) g_remove(open_path_.c_str());
      g_rmdir(dir_.c_str());
    }
  }

  void play() {
    setup();
    const Json* steps = s_.get("steps");
    if (!steps || !steps->is_array()) throw Failure{"no steps"};
    size_t n = 0;
    for (auto& st : steps->arr()) {
      ++n;
      try {
        step(st);
      } catch (Failure& f) {
        throw Failure{"step " + std::to_string(n) + " (" + st.str_or("do") + "): " + f.why};
      }
    }
  }

 private:
  std::string launcher_, template_;
  Json s_;
  std::string dir_, page_, open_path_;
  SoupServer* server_ = nullptr;
  std::string served_html_;
  ovalis::Backend b_;
  std::map<std::string, Json> reports_;
  std::map<std::string, int> calls_;
  struct Event {
    std::string keyword, rest;
    bool used = false;
  };
  std::vector<Event> events_;
  std::vector<Json> opens_;
  std::map<std::string, ovalis::Future> refs_;

  std::string html(const Json* lines) const {
    std::string script;
    if (lines)
      for (auto& l : strings(*lines)) script += l + "\n";
    std::string out = template_;
    size_t at = out.find("<!--SCENARIO-->");
    if (at == std::string::npos) throw Failure{"page.html has no scenario marker"};
    out.replace(at, 15, "<script>\n" + script + "</script>");
    return out;
  }

  // The served page: every GET gets it, and POST /report records what the
  // page reports.
  static void on_served_request(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer p) {
    auto* self = static_cast<Player*>(p);
    if (g_strcmp0(soup_server_message_get_method(msg), "POST") == 0 && g_strcmp0(path, "/report") == 0) {
      GBytes* body = soup_message_body_flatten(soup_server_message_get_request_body(msg));
      gsize n = 0;
      auto* data = static_cast<const char*>(g_bytes_get_data(body, &n));
      if (auto r = ovalis::json_parse(std::string(data ? data : "", n)); r && r->is_object())
        self->reports_[r->str_or("key")] = r->get("value") ? *r->get("value") : Json();
      g_bytes_unref(body);
      soup_server_message_set_status(msg, SOUP_STATUS_NO_CONTENT, nullptr);
      return;
    }
    soup_message_headers_append(soup_server_message_get_response_headers(msg), "Cache-Control", "no-store");
    soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
    soup_server_message_set_response(msg, "text/html; charset=utf-8", SOUP_MEMORY_COPY, self->served_html_.data(),
                                     self->served_html_.size());
  }

  void serve(const Json& how) {
    served_html_ = html(how.get("page"));
    server_ = soup_server_new(nullptr, nullptr);
    soup_server_add_handler(server_, nullptr, on_served_request, this, nullptr);
    GError* err = nullptr;
    if (!soup_server_listen_local(server_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &err)) {
      std::string m = err->message;
      g_error_free(err);
      throw Failure{"cannot serve the page: " + m};
    }
    GSList* uris = soup_server_get_uris(server_);
    int port = uris ? g_uri_get_port(static_cast<GUri*>(uris->data)) : -1;
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    if (port <= 0) throw Failure{"the server has no port"};
    s_ = replaced(s_, "$served", "http://127.0.0.1:" + std::to_string(port));
  }

  void setup() {
    gchar* d = g_dir_make_tmp("ovalis-conformance-XXXXXX", nullptr);
    if (!d) throw Failure{"cannot make a temporary folder"};
    dir_ = d;
    g_free(d);
    if (const Json* how = s_.get("serve"); how && how->is_object()) serve(*how);
    std::string html = this->html(s_.get("page"));
    page_ = dir_ + "/page.html";
    if (!g_file_set_contents(page_.c_str(), html.data(), gssize(html.size()), nullptr))
      throw Failure{"cannot write the page"};

    if (std::getenv("OVALIS_CONFORMANCE_TRACE"))
      b_.trace = [](char dir, std::string_view l) {
        std::fprintf(stderr, "%c %.*s\n", dir, int(std::min<size_t>(l.size(), 300)), l.data());
      };
    b_.handle("conformance.report", [this](const ovalis::Call& c) {
      reports_[c.str("key")] = c.param("value") ? *c.param("value") : Json();
      c.resolve(nullptr);
    });
    if (const Json* h = s_.get("handlers"); h && h->is_object())
      for (auto& [method, behaviour] : h->obj()) {
        std::string m = method;
        Json how = behaviour;
        b_.handle(m, [this, m, how](const ovalis::Call& c) {
          ++calls_[m];
          int delay = int(how.num_or("delay_ms", 0));
          if (delay <= 0) return act(how, c);
          auto* pending = new std::pair<ovalis::Call, std::pair<Player*, Json>>(c, {this, how});
          g_timeout_add_full(
              G_PRIORITY_DEFAULT, guint(delay),
              [](gpointer p) -> gboolean {
                auto* x = static_cast<std::pair<ovalis::Call, std::pair<Player*, Json>>*>(p);
                x->second.first->act(x->second.second, x->first);
                return G_SOURCE_REMOVE;
              },
              pending,
              [](gpointer p) { delete static_cast<std::pair<ovalis::Call, std::pair<Player*, Json>>*>(p); });
        });
      }
    if (const Json* ev = s_.get("events"))
      for (auto& kw : strings(*ev))
        b_.on(kw, [this, kw](std::string_view rest) { events_.push_back({kw, std::string(rest)}); });
    if (const Json* t = s_.get("trust")) {
      if (t->is_string() && t->str() == "all") b_.trust_all_origins();
      else for (auto& p : strings(*t)) b_.trust_origin(p);
    }
    if (s_.bool_or("open_socket")) {
      open_path_ = dir_ + "/open.sock";
      std::string err;
      if (!b_.listen_for_open(open_path_, [this](const Json& r) { opens_.push_back(r); }, &err))
        throw Failure{"listen_for_open: " + err};
    }
    ovalis::LaunchOptions o;
    o.launcher = launcher_;
    o.page = page_;
    Json launch = s_.get("launch") ? *s_.get("launch") : Json();
    o.title = launch.str_or("title", "conformance");
    o.width = int(launch.num_or("width", 640));
    o.height = int(launch.num_or("height", 480));
    if (const Json* env = launch.get("env"); env && env->is_object())
      for (auto& [k, v] : env->obj()) o.env.emplace_back(k, v.is_string() ? v.str() : ovalis::json_dump(v));
    std::string err;
    if (!b_.start(o, &err)) throw Failure{"start: " + err};
    if (!spin_until([&] { return b_.connected(); }, 60000)) throw Failure{"the launcher did not connect"};
  }

  void act(const Json& how, const ovalis::Call& c) {
    if (how.bool_or("echo")) return c.resolve(c.params);
    if (const Json* v = how.get("resolve")) return c.resolve(*v);
    if (const Json* v = how.get("reject")) return c.fail(v->is_string() ? v->str() : ovalis::json_dump(*v));
    if (how.bool_or("origin")) return c.resolve(ovalis::obj({{"window", c.window}, {"origin", c.origin}}));
    if (how.bool_or("length")) return c.resolve(ovalis::obj({{"length", double(utf16_length(c.str("text")))}}));
    if (how.bool_or("check_bytes")) {
      const ovalis::Bytes* data = c.bytes("bytes");
      if (!data) return c.fail("no bytes");
      const Json* tag = c.param("tag");
      return c.resolve(ovalis::obj({{"length", double(data->size())},
                                    {"first", data->empty() ? Json() : Json(int((*data)[0]))},
                                    {"pattern", *data == pattern(data->size())},
                                    {"tag", tag ? *tag : Json()}}));
    }
    if (how.bool_or("make_bytes")) return c.resolve(Json(pattern(size_t(std::max(0.0, c.num("n"))))));
    if (const Json* r = how.get("request")) {
      const Json* args = r->get("args");
      return c.resolve_with(request(r->str_or("op"), args ? *args : Json()));
    }
    if (const Json* d = how.get("dialog")) {
      const Json* f = d->get("fields");
      return b_.dialog_for(c, d->str_or("op"), strings(f ? *f : Json()));
    }
    c.resolve(nullptr);
  }

  ovalis::Future request(const std::string& op, const Json& raw) {
    Json a = expand(raw);
    if (op == "get") return b_.get(sarg(a, 0));
    if (op == "secret") return b_.secret(sarg(a, 0), sarg(a, 1), sarg(a, 2), sarg(a, 3));
    if (op == "dialog") return b_.dialog(sarg(a, 0), strings(arg(a, 1)));
    if (op == "permission") return b_.permission(arg(a, 0).is_bool() && arg(a, 0).boolean(), sarg(a, 1));
    if (op == "shell") return b_.shell(sarg(a, 0), sarg(a, 1));
    if (op == "cookies") return b_.cookies(sarg(a, 0), strings(arg(a, 1)));
    if (op == "power")
      return b_.power(arg(a, 0).is_bool() && arg(a, 0).boolean(), arg(a, 1).is_bool() && arg(a, 1).boolean(),
                      sarg(a, 2));
    if (op == "login_get") return b_.login_get();
    throw Failure{"unknown request op " + op};
  }

  void send(const std::string& op, const Json& raw) {
    Json a = expand(raw);
    if (op == "emit") return b_.emit(sarg(a, 0), sarg(a, 1), arg(a, 2));
    if (op == "emit_all") return b_.emit_all(sarg(a, 0), arg(a, 1));
    if (op == "eval") return b_.eval(sarg(a, 0), sarg(a, 1));
    if (op == "title") return b_.title(sarg(a, 0), sarg(a, 1));
    if (op == "size") return b_.size(sarg(a, 0), int(arg(a, 1).is_number() ? arg(a, 1).num() : 0),
                                      int(arg(a, 2).is_number() ? arg(a, 2).num() : 0));
    if (op == "open_window") {
      const Json& w = arg(a, 0);
      ovalis::line::WindowSpec spec;
      spec.id = w.str_or("id");
      spec.target = w.str_or("target");
      if (spec.target == "$page") spec.target = page_;
      spec.title = w.str_or("title");
      spec.width = int(w.num_or("width", 0));
      spec.height = int(w.num_or("height", 0));
      spec.show = w.bool_or("show", true);
      return b_.open_window(spec);
    }
    if (op == "close_window") return b_.close_window(sarg(a, 0));
    if (op == "winop") return b_.winop(sarg(a, 0), sarg(a, 1));
    if (op == "menus") {
      std::vector<ovalis::line::Menu> menus;
      if (arg(a, 1).is_array())
        for (auto& m : arg(a, 1).arr()) {
          ovalis::line::Menu menu;
          menu.role = m.str_or("role");
          menu.title = m.str_or("title");
          const Json* items = m.get("items");
          menu.items = menu_items(items ? *items : Json());
          menus.push_back(menu);
        }
      return b_.set_menus(sarg(a, 0), menus);
    }
    if (op == "notify") return b_.notify(sarg(a, 0), sarg(a, 1), sarg(a, 2));
    if (op == "raw") return b_.send(sarg(a, 0));
    throw Failure{"unknown send op " + op};
  }

  int timeout(const Json& st) const { return int(st.num_or("timeout_ms", 20000)); }

  void step(const Json& st) {
    std::string what = st.str_or("do");
    static const Json null;
    const Json& want = st.get("expect") ? *st.get("expect") : null;
    const Json& args = st.get("args") ? *st.get("args") : null;
    if (what == "wait_report") {
      std::string key = st.str_or("key");
      bool ok = spin_until([&] { return reports_.count(key) && matches(want, reports_[key]); }, timeout(st));
      if (!ok)
        throw Failure{"report " + key + ": expected " + shown(want) + ", got " +
                      (reports_.count(key) ? shown(reports_[key]) : std::string("nothing"))};
    } else if (what == "wait_call") {
      std::string m = st.str_or("method");
      if (!spin_until([&] { return calls_[m] > 0; }, timeout(st))) throw Failure{"no call of " + m};
    } else if (what == "request") {
      ovalis::Future f = request(st.str_or("op"), args);
      if (const Json* as = st.get("as")) {
        refs_[as->str()] = f;
        return;
      }
      auto v = f.wait(timeout(st));
      if (!v) throw Failure{f.gone() ? "the launcher went away" : "no answer"};
      expect(want, *v, "answer");
    } else if (what == "await") {
      auto it = refs_.find(st.str_or("ref"));
      if (it == refs_.end()) throw Failure{"no request named " + st.str_or("ref")};
      ovalis::Future f = it->second;
      auto v = f.wait(timeout(st));
      if (st.bool_or("gone")) {
        if (!f.gone()) throw Failure{v ? "answered " + shown(*v) : "still waiting"};
        return;
      }
      if (!v) throw Failure{f.gone() ? "the launcher went away" : "no answer"};
      expect(want, *v, "answer");
    } else if (what == "send") {
      send(st.str_or("op"), args);
    } else if (what == "wait_event") {
      std::string kw = st.str_or("keyword");
      Event* hit = nullptr;
      auto find = [&] {
        for (auto& e : events_) {
          if (e.used || e.keyword != kw) continue;
          Json got;
          if (want.is_string()) {
            got = Json(e.rest);
          } else {
            size_t at = e.rest.find_first_of("{[");
            got = ovalis::json_parse(at == std::string::npos ? e.rest : e.rest.substr(at)).value_or(Json());
          }
          if (matches(want, got)) {
            hit = &e;
            return true;
          }
        }
        return false;
      };
      if (!spin_until(find, timeout(st))) throw Failure{"no " + kw + " line matching " + shown(want)};
      hit->used = true;
    } else if (what == "open") {
      size_t before = opens_.size();
      std::vector<std::string> argv{launcher_, "--open", open_path_, "/bin/false"};
      if (const Json* a = st.get("arg"); a && a->is_string()) argv.push_back(a->str());
      std::vector<char*> cargv;
      for (auto& s : argv) cargv.push_back(s.data());
      cargv.push_back(nullptr);
      GPid pid = 0;
      GError* err = nullptr;
      if (!g_spawn_async(nullptr, cargv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, &err)) {
        std::string m = err->message;
        g_error_free(err);
        throw Failure{"cannot run launcher --open: " + m};
      }
      int status = -1;
      guint w = g_child_watch_add(pid, [](GPid, gint s, gpointer p) { *static_cast<int*>(p) = s; }, &status);
      bool done = spin_until([&] { return status != -1 && opens_.size() > before; }, timeout(st));
      if (status == -1) {
        g_source_remove(w);
        kill(pid, SIGKILL);
      }
      if (status != -1 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
        throw Failure{"launcher --open ended with status " + std::to_string(status)};
      if (!done) throw Failure{"no open request arrived"};
      expect(want, opens_[before], "open request");
    } else if (what == "trust") {
      if (st.bool_or("all")) b_.trust_all_origins();
      else if (const Json* o = st.get("origins"))
        for (auto& p : strings(*o)) b_.trust_origin(p);
    } else if (what == "sleep") {
      gint64 until = g_get_monotonic_time() + gint64(st.num_or("ms", 0)) * 1000;
      spin_until([&] { return g_get_monotonic_time() >= until; }, int(st.num_or("ms", 0)) + 1000);
    } else if (what == "kill_launcher") {
      if (b_.launcher_pid() > 0) kill(b_.launcher_pid(), SIGKILL);
    } else if (what == "quit" || what == "expect_exit") {
      if (what == "quit") b_.quit();
      // A launcher that never ends fails the step instead of hanging it.
      pid_t pid = b_.launcher_pid();
      guint guard = g_timeout_add(
          guint(timeout(st)),
          [](gpointer p) -> gboolean {
            kill(pid_t(GPOINTER_TO_INT(p)), SIGKILL);
            return G_SOURCE_REMOVE;
          },
          GINT_TO_POINTER(pid));
      int status = b_.run();
      if (GSource* src = g_main_context_find_source_by_id(nullptr, guard)) g_source_destroy(src);
      int wanted = int(st.num_or("status", 0));
      if (status != wanted)
        throw Failure{"the launcher ended with status " + std::to_string(status) + ", expected " +
                      std::to_string(wanted)};
      if (b_.connected()) throw Failure{"the library still counts itself connected"};
    } else if (!st.bool_or("optional")) {
      throw Failure{"unknown step " + what};
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <launcher> <scenario.json>...\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  std::string only;
  if (const char* o = std::getenv("OVALIS_CONFORMANCE_ONLY")) only = " " + std::string(o) + " ";
  int failed = 0, played = 0;
  for (int i = 2; i < argc; ++i) {
    std::string path = argv[i];
    std::string name = path;
    try {
      auto s = ovalis::json_parse(read_file(path));
      if (!s || !s->is_object()) throw Failure{"not a JSON object"};
      name = s->str_or("name", path);
      if (!only.empty() && only.find(" " + name + " ") == std::string::npos) continue;
      gchar* dir = g_path_get_dirname(path.c_str());
      std::string page = std::string(dir) + "/../page.html";
      g_free(dir);
      ++played;
      Player p(argv[1], read_file(page), *s);
      p.play();
      std::printf("ok %s\n", name.c_str());
    } catch (Failure& f) {
      ++failed;
      std::printf("FAIL %s: %s\n", name.c_str(), f.why.c_str());
    }
    std::fflush(stdout);
  }
  std::printf("%d of %d scenarios passed\n", played - failed, played);
  return failed == 0 && played > 0 ? 0 : 1;
}
