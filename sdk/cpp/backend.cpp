#include "ovalis/backend.h"
#include "blobs.h"
#include "open_listener.h"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ovalis {

// ---- Future ---------------------------------------------------------------

Future::Future() : s_(std::make_shared<State>()) {}
bool Future::ready() const { return s_->ready; }
bool Future::gone() const { return !s_->ready && s_->dead; }
const Json& Future::value() const { return s_->value; }

Future& Future::then(std::function<void(const Json&)> fn) {
  if (s_->ready)
    fn(s_->value);
  else
    s_->then.push_back(std::move(fn));
  return *this;
}

void Future::resolve(Json v) const {
  if (s_->ready) return;
  s_->ready = true;
  s_->value = std::move(v);
  // The callbacks may add more; take them out first.
  auto fns = std::move(s_->then);
  s_->then.clear();
  for (auto& fn : fns) fn(s_->value);
}

std::optional<Json> Future::wait(int timeout_ms) const {
  gint64 deadline = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  GMainContext* ctx = g_main_context_default();
  // A timer makes sure the iteration below wakes up at the deadline.
  guint timer = g_timeout_add(timeout_ms > 0 ? guint(timeout_ms) : 0,
                              [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr);
  while (!s_->ready && !s_->dead && g_get_monotonic_time() < deadline)
    g_main_context_iteration(ctx, TRUE);
  if (GSource* src = g_main_context_find_source_by_id(ctx, timer)) g_source_destroy(src);
  if (!s_->ready) return std::nullopt;
  return s_->value;
}

// ---- Call -----------------------------------------------------------------

void Call::resolve(const Json& value) const {
  if (!b_) return;
  if (value.is_bytes()) return b_->answer_bytes(id, value.bytes().data(), value.bytes().size());
  b_->send(ret_line(id, true, value));
}
void Call::resolve_bytes(const void* data, size_t size) const {
  if (b_) b_->answer_bytes(id, data, size);
}
void Call::resolve_file(const std::string& path) const {
  if (b_) b_->answer_file(id, path);
}
void Call::reject(const Json& value) const {
  if (b_) b_->send(ret_line(id, false, value));
}
void Call::fail(std::string_view message) const { reject(obj({{"message", std::string(message)}})); }
void Call::resolve_with(Future f) const {
  Call self = *this;
  f.then([self](const Json& v) { self.resolve(v); });
}

// ---- Backend --------------------------------------------------------------

struct Backend::Glib {
  GMainLoop* loop = nullptr;
  guint listen_watch = 0, sock_watch = 0, child_watch = 0, connect_timer = 0, quit_timer = 0;
  guint sig_int = 0, sig_term = 0;
};

Backend::Backend()
    : g_(std::make_unique<Glib>()),
      inbox_(std::make_unique<blob::Inbox>()),
      outbox_(std::make_unique<blob::Outbox>()) {
  g_->loop = g_main_loop_new(nullptr, FALSE);
  auto on_sig = [](gpointer self) -> gboolean {
    static_cast<Backend*>(self)->quit();
    return G_SOURCE_CONTINUE;
  };
  g_->sig_int = g_unix_signal_add(SIGINT, on_sig, this);
  g_->sig_term = g_unix_signal_add(SIGTERM, on_sig, this);
}

Backend::~Backend() {
  for (guint* id : {&g_->listen_watch, &g_->sock_watch, &g_->child_watch, &g_->connect_timer,
                    &g_->quit_timer, &g_->sig_int, &g_->sig_term})
    if (*id) g_source_remove(*id);
  close_socket();
  if (listen_fd_ >= 0) close(listen_fd_);
  if (pid_ > 0 && !exit_status_) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  cleanup_files();
  inbox_->clear();
  outbox_->clear();
  g_main_loop_unref(g_->loop);
}

void Backend::cleanup_files() {
  if (!sock_path_.empty()) unlink(sock_path_.c_str());
  sock_path_.clear();
  if (!dir_.empty()) rmdir(dir_.c_str());
  dir_.clear();
}

namespace {

// The origin of a page given as an http(s) URL, as the launcher reports it
// (the port only when it is not the scheme's default); "" for a file.
std::string page_origin(const std::string& page) {
  if (page.rfind("http://", 0) != 0 && page.rfind("https://", 0) != 0) return "";
  GUri* u = g_uri_parse(page.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!u) return "";
  std::string scheme = g_uri_get_scheme(u);
  const char* host = g_uri_get_host(u);
  std::string own = host && *host ? scheme + "://" + host : "";
  int port = g_uri_get_port(u);
  if (!own.empty() && port > 0 && !(scheme == "http" && port == 80) &&
      !(scheme == "https" && port == 443))
    own += ":" + std::to_string(port);
  g_uri_unref(u);
  return own;
}

}  // namespace

bool Backend::start(const LaunchOptions& o, std::string* error) {
  auto fail = [&](std::string m) {
    if (error) *error = std::move(m);
    return false;
  };
  GError* err = nullptr;
  // A private folder (mode 0700): only this user can reach the socket.
  gchar* dir = g_dir_make_tmp("ovalis-XXXXXX", &err);
  if (!dir) {
    std::string m = err->message;
    g_error_free(err);
    return fail("cannot make a socket folder: " + m);
  }
  dir_ = dir;
  g_free(dir);
  sock_path_ = dir_ + "/backend.sock";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (sock_path_.size() >= sizeof addr.sun_path) return fail("socket path too long: " + sock_path_);
  std::memcpy(addr.sun_path, sock_path_.c_str(), sock_path_.size() + 1);
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) return fail(std::string("socket: ") + std::strerror(errno));
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 1) != 0)
    return fail(std::string("bind/listen: ") + std::strerror(errno));

  if (std::string own = page_origin(o.page); !own.empty()) trusted_.push_back(own);

  std::string exe = o.launcher;
  if (exe.find('/') == std::string::npos) {
    gchar* found = g_find_program_in_path(exe.c_str());
    if (!found) return fail("launcher not found on PATH: " + exe);
    exe = found;
    g_free(found);
  }
  std::vector<std::string> args{exe, o.page, sock_path_};
  if (!o.title.empty() || o.width > 0 || !o.version.empty()) args.push_back(o.title.empty() ? "ovalis" : o.title);
  if (o.width > 0 && o.height > 0) args.push_back(std::to_string(o.width) + "x" + std::to_string(o.height));
  else if (!o.version.empty()) args.push_back("");
  if (!o.version.empty()) args.push_back(o.version);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  gchar** envp = g_get_environ();
  for (auto& [k, v] : o.env) envp = g_environ_setenv(envp, k.c_str(), v.c_str(), TRUE);
  GPid pid = 0;
  // No shell: paths with blanks or quotes reach the launcher as they are.
  gboolean ok = g_spawn_async(nullptr, argv.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                              nullptr, &pid, &err);
  g_strfreev(envp);
  if (!ok) {
    std::string m = err->message;
    g_error_free(err);
    return fail("cannot start " + exe + ": " + m);
  }
  pid_ = pid;
  g_->child_watch = g_child_watch_add(
      pid,
      [](GPid, gint status, gpointer self) {
        auto* b = static_cast<Backend*>(self);
        b->g_->child_watch = 0;
        b->launcher_gone(status);
      },
      this);
  g_->listen_watch = g_unix_fd_add(
      listen_fd_, G_IO_IN,
      [](gint, GIOCondition, gpointer self) -> gboolean {
        auto* b = static_cast<Backend*>(self);
        if (!b->accept_one()) return G_SOURCE_CONTINUE;
        b->g_->listen_watch = 0;
        return G_SOURCE_REMOVE;
      },
      this);
  g_->connect_timer = g_timeout_add(
      guint(o.connect_timeout_ms),
      [](gpointer self) -> gboolean {
        auto* b = static_cast<Backend*>(self);
        b->g_->connect_timer = 0;
        if (b->sock_ < 0 && b->pid_ > 0 && !b->exit_status_) {
          g_printerr("ovalis: the launcher did not connect in time; stopping it\n");
          kill(b->pid_, SIGTERM);
        }
        return G_SOURCE_REMOVE;
      },
      this);
  return true;
}

bool Backend::accept_one() {
  int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return errno != EINTR && errno != EAGAIN;  // give up on real errors
  sock_ = fd;
  // The connection is made; nobody else needs the listening end or its path.
  close(listen_fd_);
  listen_fd_ = -1;
  cleanup_files();
  if (g_->connect_timer) g_source_remove(g_->connect_timer);
  g_->connect_timer = 0;
  g_->sock_watch = g_unix_fd_add(
      sock_, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR),
      [](gint, GIOCondition, gpointer self) -> gboolean {
        auto* b = static_cast<Backend*>(self);
        b->read_ready();
        if (b->sock_ >= 0) return G_SOURCE_CONTINUE;
        b->g_->sock_watch = 0;
        return G_SOURCE_REMOVE;
      },
      this);
  if (on_connected) on_connected();
  return true;
}

void Backend::read_ready() {
  char buf[8192];
  ssize_t r;
  do {
    r = read(sock_, buf, sizeof buf);
  } while (r < 0 && errno == EINTR);
  if (r <= 0) {
    close_socket();
    return;
  }
  framer_.feed(std::string_view(buf, size_t(r)), [this](std::string_view l) { dispatch(l); });
}

void Backend::close_socket() {
  if (sock_ < 0) return;
  close(sock_);
  sock_ = -1;
  // Nothing will answer any more: waiters stop waiting.
  for (auto& [id, f] : pending_) f.s_->dead = true;
  pending_.clear();
}

void Backend::launcher_gone(int status) {
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status)
                 : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
  g_spawn_close_pid(pid_);
  // Lines the launcher wrote before it ended are still in the socket.
  if (sock_ >= 0) {
    while (true) {
      char buf[8192];
      ssize_t r = recv(sock_, buf, sizeof buf, MSG_DONTWAIT);
      if (r <= 0) break;
      framer_.feed(std::string_view(buf, size_t(r)), [this](std::string_view l) { dispatch(l); });
      if (sock_ < 0) break;
    }
  }
  close_socket();
  // Nobody will take the offers left, nor name the uploads.
  inbox_->clear();
  outbox_->clear();
  if (g_->quit_timer) g_source_remove(g_->quit_timer);
  g_->quit_timer = 0;
  g_main_loop_quit(g_->loop);
}

int Backend::run() {
  if (!exit_status_) g_main_loop_run(g_->loop);
  return exit_status_.value_or(1);
}

void Backend::quit(int grace_ms) {
  if (exit_status_) return;
  if (quit_sent_) {
    // Asked twice: stop waiting.
    if (pid_ > 0) kill(pid_, SIGTERM);
    return;
  }
  quit_sent_ = true;
  if (sock_ >= 0)
    send(line::quit());
  else if (pid_ > 0)
    kill(pid_, SIGTERM);
  g_->quit_timer = g_timeout_add(
      guint(grace_ms),
      [](gpointer self) -> gboolean {
        auto* b = static_cast<Backend*>(self);
        b->g_->quit_timer = 0;
        if (!b->exit_status_ && b->pid_ > 0) {
          g_printerr("ovalis: the launcher did not quit in time; terminating it\n");
          kill(b->pid_, SIGTERM);
        }
        return G_SOURCE_REMOVE;
      },
      this);
}

void Backend::send(std::string_view l) {
  if (l.empty() || sock_ < 0) return;
  if (l.find_first_of("\r\n") != std::string_view::npos) {
    g_printerr("ovalis: refusing to send a line with a raw line break\n");
    return;
  }
  if (trace) trace('>', l);
  std::string data(l);
  data += '\n';
  size_t off = 0;
  while (off < data.size()) {
    ssize_t w = ::send(sock_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      g_printerr("ovalis: write to the launcher failed: %s\n", std::strerror(errno));
      return;
    }
    off += size_t(w);
  }
}

void Backend::send(const std::vector<std::string>& lines) {
  for (auto& l : lines) send(l);
}

void Backend::on(std::string keyword, LineHandler fn) { line_handlers_[std::move(keyword)].push_back(std::move(fn)); }
void Backend::trust_origin(std::string pattern) { trusted_.push_back(std::move(pattern)); }

bool Backend::origin_trusted(std::string_view origin) const {
  if (trust_all_ || origin == "file://") return true;
  for (const std::string& p : trusted_)
    if (origin_glob(p, origin)) return true;
  return config_ && config_->calls_allowed(origin);
}

void Backend::handle(std::string method, CallHandler fn) { call_handlers_[std::move(method)] = std::move(fn); }
void Backend::declare_events(std::initializer_list<const char*> names) {
  for (const char* n : names) events_.insert(n);
}

void Backend::emit(std::string_view window, std::string_view event, const Json& data) {
  if (auto l = emit_line(window, event, data)) send(*l);
}

void Backend::emit_all(std::string_view event, const Json& data) {
  send(line::eval_all("window.__emit&&window.__emit({event:" + json_quote(event) +
                      ",data:" + json_dump(data) + "})"));
}

void Backend::dispatch(std::string_view l) {
  if (trace) trace('<', l);
  size_t sp = l.find(' ');
  std::string_view kw = l.substr(0, sp);
  std::string_view rest = sp == std::string_view::npos ? std::string_view{} : l.substr(sp + 1);
  if (kw == "CALL") return on_call_line(rest);
  if (kw == "BLOB") return inbox_->announce(rest);
  if (kw == "GOT") {
    auto g = parse_got(rest);
    if (!g) return;
    auto it = pending_.find(g->id);
    if (it != pending_.end()) {
      Future f = it->second;
      pending_.erase(it);
      f.resolve(std::move(g->value));
      return;
    }
  }
  auto it = line_handlers_.find(kw);
  if (it == line_handlers_.end()) return;
  auto fns = it->second;  // a handler may register more
  for (auto& fn : fns) fn(rest);
}

void Backend::on_call_line(std::string_view rest) {
  auto parsed = parse_call(rest);
  if (!parsed) return;
  Call c;
  c.b_ = this;
  c.id = parsed->call_id;
  c.window = parsed->window;
  c.origin = parsed->origin;
  c.method = parsed->method;
  c.params = parsed->params;
  if (!parsed->error.empty()) return c.fail(parsed->error);
  bool refs = blob::may_hold_reference(rest);
  if (!origin_trusted(c.origin)) {
    if (refs) inbox_->discard(c.params);
    if (refused_origins_.insert(c.origin).second)
      std::fprintf(stderr,
                   "ovalis: refused page calls from origin %s (first: %s from window %s); "
                   "trust it with Backend::trust_origin or ovalis.json \"api\".origins\n",
                   c.origin.c_str(), c.method.c_str(), c.window.c_str());
    return c.fail("origin " + c.origin + " may not call the backend" +
                  (config_ ? " (allow \"calls\" in ovalis.json \"api\".origins)" : ""));
  }
  auto it = call_handlers_.find(c.method);
  if (refs) {
    // Bytes are read only for a handler; a call nobody handles only drops them.
    if (it == call_handlers_.end()) {
      inbox_->discard(c.params);
    } else if (std::string bad; !inbox_->resolve(c.params, &bad)) {
      return c.fail("no such blob: " + bad);
    }
  }
  if (c.method == "client.hello" && c.window == "main" && !page_ready_) {
    page_ready_ = true;
    auto waiting = std::move(queued_opens_);
    queued_opens_.clear();
    // The hello is answered first, then the requests that waited for the page.
    if (it != call_handlers_.end()) it->second(c);
    else c.resolve(obj({{"ok", true}}));
    for (auto& r : waiting) deliver_open(r);
    return;
  }
  if (it != call_handlers_.end()) return it->second(c);
  if (c.method == "client.capabilities") return c.resolve(capabilities(c));
  if (c.method == "client.hello") return c.resolve(obj({{"ok", true}}));
  c.fail("unknown method " + c.method);
}

void Backend::answer_bytes(const std::string& call_id, const void* data, size_t size) {
  std::string id = blob::random_id(), err;
  auto path = outbox_->write(id, data, size, &err);
  if (!path) {
    g_printerr("ovalis: %s\n", err.c_str());
    return send(ret_line(call_id, false, obj({{"message", "cannot offer bytes: " + err}})));
  }
  // The launcher opens the file when it reads this line: before the answer.
  send(line::blob(id, "move", *path));
  send(ret_line(call_id, true, obj({{"$blob", id}, {"size", double(size)}})));
}

void Backend::answer_file(const std::string& call_id, const std::string& path) {
  gchar* abs = g_canonicalize_filename(path.c_str(), nullptr);
  std::string full = abs;
  g_free(abs);
  struct stat st {};
  std::string why;
  if (stat(full.c_str(), &st) != 0)
    why = std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    why = "not a regular file";
  else if (access(full.c_str(), R_OK) != 0)
    why = std::strerror(errno);
  if (!why.empty()) return send(ret_line(call_id, false, obj({{"message", "cannot offer " + path + ": " + why}})));
  std::string id = blob::random_id();
  send(line::blob(id, "keep", full));
  send(ret_line(call_id, true, obj({{"$blob", id}, {"size", double(st.st_size)}})));
}

Json Backend::capabilities(const Call& c) const {
  auto verdicts = [](const Json* names, auto&& known) {
    Json out = JsonObject{};
    if (!names || !names->is_array()) return out;
    for (auto& n : names->arr()) {
      if (!n.is_string()) continue;
      if (known(n.str()))
        out.set(n.str(), true);
      else
        out.set(n.str(), obj({{"why", "unsupported"}, {"feature", n}}));
    }
    return out;
  };
  auto has_call = [this](const std::string& m) {
    return call_handlers_.count(m) || m == "client.hello" || m == "client.capabilities";
  };
  auto has_event = [this](const std::string& e) { return events_.count(e) > 0; };
  return obj({{"calls", verdicts(c.param("calls"), has_call)},
              {"events", verdicts(c.param("events"), has_event)}});
}

Future Backend::ask(const std::function<std::string(std::string_view id)>& make_line) {
  Future f;
  if (sock_ < 0) {
    f.s_->dead = true;
    return f;
  }
  // Digits only: the same id then also works as "q<id>" for dialogs.
  std::string id = std::to_string(++next_id_);
  pending_.emplace(id, f);
  send(make_line(id));
  return f;
}

Future Backend::get(std::string_view key) {
  return ask([&](std::string_view id) { return line::get(id, key); });
}
Future Backend::dialog(std::string_view op, const std::vector<std::string>& fields) {
  return ask([&](std::string_view id) { return line::dlg("q" + std::string(id), op, fields); });
}
Future Backend::pdf(std::string_view window, std::string_view path) {
  return ask([&](std::string_view id) { return line::pdf(window, id, path); });
}
Future Backend::cookies(std::string_view op, const std::vector<std::string>& fields) {
  return ask([&](std::string_view id) { return line::cookies(id, op, fields); });
}
Future Backend::permission(bool request, std::string_view name) {
  return ask([&](std::string_view id) { return line::permission(id, request, name); });
}
Future Backend::power(bool on, bool display, std::string_view reason) {
  return ask([&](std::string_view id) { return line::power(id, on, display, reason); });
}
Future Backend::secret(std::string_view op, std::string_view service, std::string_view account,
                       std::string_view value) {
  return ask([&](std::string_view id) { return line::secret(id, op, service, account, value); });
}
Future Backend::shell(std::string_view op, std::string_view target) {
  return ask([&](std::string_view id) { return line::shell(id, op, target); });
}
Future Backend::login_get() {
  return ask([&](std::string_view id) { return line::login_get(id); });
}
Future Backend::login_set(bool enabled) {
  return ask([&](std::string_view id) { return line::login_set(id, enabled); });
}
Future Backend::sampler_load(std::string_view name, std::string_view path) {
  return ask([&](std::string_view id) { return line::sampler_load(id, name, path); });
}
Future Backend::audio_tap(bool app_scope, int interval_ms) {
  return ask([&](std::string_view id) { return line::audiotap(id, app_scope, interval_ms); });
}
Future Backend::sound(std::string_view name_or_path) {
  return ask([&](std::string_view id) { return line::sound(id, name_or_path); });
}
Future Backend::say(std::string_view text, std::string_view voice, double rate) {
  return ask([&](std::string_view id) { return line::say(id, text, voice, rate); });
}
Future Backend::voices() {
  return ask([&](std::string_view id) { return line::voices(id); });
}
Future Backend::hotkey(std::string_view hk, std::string_view combo) {
  return ask([&](std::string_view id) { return line::hkreg(id, hk, combo); });
}
Future Backend::keystroke(std::string_view combo) {
  return ask([&](std::string_view id) { return line::keystroke(id, combo); });
}
Future Backend::mouse_track(std::string_view token) {
  return ask([&](std::string_view id) { return line::mousetrack(id, token); });
}
Future Backend::capture() {
  return ask([&](std::string_view id) { return line::capture(id); });
}
Future Backend::pick_color() {
  return ask([&](std::string_view id) { return line::pickcolor(id); });
}
Future Backend::thumbnail(std::string_view path, int size) {
  return ask([&](std::string_view id) { return line::thumb(id, path, size); });
}
Future Backend::search(std::string_view query) {
  return ask([&](std::string_view id) { return line::spotlight(id, query); });
}

// ---- starting from ovalis.json ---------------------------------------------

LaunchOptions launch_options(const AppConfig& c) {
  LaunchOptions o;
  const char* exe = g_getenv("OVALIS_LAUNCHER");
  if (exe && *exe) o.launcher = exe;
  o.page = c.page_target();
  o.title = c.window.title;
  o.width = c.window.width;
  o.height = c.window.height;
  o.version = c.version;
  o.env = c.launcher_env();
  return o;
}

Backend::AppStart Backend::start_app(const AppConfig& config, std::string* error) {
  std::string sock = config.socket_path();
  // Somebody runs this application already: bring it to the front.
  if (forward_open(sock, obj({{"activate", true}}))) return AppStart::handed_over;
  if (!listen_for_open(sock, [this](const Json& r) { open_app_request(r); }, error))
    return AppStart::failed;
  config_ = config;
  if (!start(launch_options(config), error)) {
    config_.reset();
    return AppStart::failed;
  }
  return AppStart::started;
}

void Backend::open_app_request(const Json& req) {
  const Json* url = req.get("url");
  const Json* paths = req.get("paths");
  const Json* activate = req.get("activate");
  bool ok = (url && url->is_string()) || (activate && activate->is_bool() && activate->boolean());
  if (paths && paths->is_array()) {
    ok = true;
    for (auto& p : paths->arr()) ok = ok && p.is_string();
  }
  if (!ok) return;
  // Before its script is there the page would miss the event; it says
  // hello when it is ready.
  if (!page_ready_) return queued_opens_.push_back(req);
  deliver_open(req);
}

void Backend::deliver_open(const Json& req) {
  winop("main", "show");
  if (const Json* url = req.get("url"); url && url->is_string())
    emit("main", "open-url", obj({{"url", *url}}));
  else if (const Json* paths = req.get("paths"); paths && paths->is_array())
    emit("main", "open-files", obj({{"paths", *paths}}));
  if (on_open) on_open(req);
}

int Backend::run_app(const std::string& dir) {
  std::string err;
  auto cfg = load_app_config(dir, &err);
  if (!cfg) {
    g_printerr("%s\n", err.c_str());
    return 2;
  }
  switch (start_app(*cfg, &err)) {
    case AppStart::handed_over:
      g_printerr("ovalis: %s is already running; it was asked to come to the front\n", cfg->name.c_str());
      return 0;
    case AppStart::failed:
      g_printerr("ovalis: %s\n", err.c_str());
      return 1;
    case AppStart::started: break;
  }
  return run();
}

}  // namespace ovalis
