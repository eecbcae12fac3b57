#include "blobs.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <glib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

namespace ovalis::blob {

const std::string* reference_id(const Json& j) {
  const auto* o = std::get_if<JsonObject>(&j.v);
  if (!o || o->size() != 2) return nullptr;
  const Json* id = j.get("$blob");
  const Json* size = j.get("size");
  if (!id || !id->is_string() || id->str().empty() || !size || !size->is_number()) return nullptr;
  return &id->str();
}

namespace {

// Calls fn(json) for every reference in the tree (J: Json or const Json).
template <class J, class F>
void each_reference(J& j, F&& fn) {
  if (reference_id(j)) return fn(j);
  if (auto* a = std::get_if<JsonArray>(&j.v))
    for (auto& e : *a) each_reference(e, fn);
  else if (auto* o = std::get_if<JsonObject>(&j.v))
    for (auto& [k, e] : *o) each_reference(e, fn);
}

void remove_file(const std::string& path) {
  if (unlink(path.c_str()) != 0 && errno != ENOENT)
    g_printerr("ovalis: cannot remove %s: %s\n", path.c_str(), std::strerror(errno));
}

// The whole file, which must be a regular file of exactly `size` bytes.
std::optional<Bytes> read_file(const std::string& path, uint64_t size, std::string* why) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    *why = std::strerror(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != size) {
    *why = "not a regular file of the announced size";
    close(fd);
    return std::nullopt;
  }
  Bytes out(size);
  size_t off = 0;
  while (off < out.size()) {
    ssize_t r = read(fd, out.data() + off, out.size() - off);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      *why = r < 0 ? std::strerror(errno) : "the file is shorter than announced";
      close(fd);
      return std::nullopt;
    }
    off += size_t(r);
  }
  close(fd);
  return out;
}

}  // namespace

void Inbox::announce(std::string_view json_text) {
  auto j = json_parse(json_text);
  if (!j) return;
  const Json* id = j->get("id");
  const Json* path = j->get("path");
  const Json* size = j->get("size");
  if (!id || !id->is_string() || id->str().empty() || !path || !path->is_string() ||
      path->str().empty() || path->str()[0] != '/' || !size || !size->is_number() ||
      size->num() < 0 || size->num() != std::floor(size->num()))
    return;
  if (auto old = take(id->str()); old && old->path != path->str()) remove_file(old->path);
  entries_.push_back({id->str(), path->str(), uint64_t(size->num())});
  while (entries_.size() > limit_) {
    remove_file(entries_.front().path);
    entries_.pop_front();
  }
}

std::optional<Inbox::Entry> Inbox::take(std::string_view id) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->id == id) {
      Entry e = std::move(*it);
      entries_.erase(it);
      return e;
    }
  }
  return std::nullopt;
}

bool Inbox::resolve(Json& params, std::string* bad) {
  // Each id once, however often the call names it.
  std::map<std::string, std::pair<Bytes, int>, std::less<>> got;
  std::vector<std::string> order;
  each_reference(params, [&](Json& ref) {
    const std::string& id = *reference_id(ref);
    auto [it, fresh] = got.try_emplace(id);
    it->second.second++;
    if (fresh) order.push_back(id);
  });
  bool ok = true;
  for (const std::string& id : order) {
    auto e = take(id);
    if (!e) {
      if (ok) *bad = id;
      ok = false;
      continue;
    }
    if (ok) {
      std::string why;
      if (auto data = read_file(e->path, e->size, &why)) {
        got[id].first = std::move(*data);
      } else {
        g_printerr("ovalis: cannot read the upload %s: %s\n", e->path.c_str(), why.c_str());
        *bad = id;
        ok = false;
      }
    }
    remove_file(e->path);
  }
  if (!ok) return false;
  each_reference(params, [&](Json& ref) {
    auto it = got.find(*reference_id(ref));
    // The last use takes the bytes; earlier ones copy them.
    if (--it->second.second == 0)
      ref = Json(std::move(it->second.first));
    else
      ref = Json(it->second.first);
  });
  return true;
}

void Inbox::discard(const Json& params) {
  each_reference(params, [&](const Json& ref) {
    if (auto e = take(*reference_id(ref))) remove_file(e->path);
  });
}

void Inbox::clear() {
  for (auto& e : entries_) remove_file(e.path);
  entries_.clear();
}

std::string random_id() {
  unsigned char raw[16];
  size_t got = 0;
  while (got < sizeof raw) {
    ssize_t r = getrandom(raw + got, sizeof raw - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) g_error("ovalis: no random source: %s", std::strerror(errno));
    got += size_t(r);
  }
  static const char hex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char c : raw) {
    id += hex[c >> 4];
    id += hex[c & 15];
  }
  return id;
}

std::optional<std::string> Outbox::write(std::string_view id, const void* data, size_t size,
                                         std::string* error) {
  if (dir_.empty()) {
    // In memory, as the launcher keeps its own: the runtime directory when it
    // is, else /dev/shm, else the temporary directory.
    auto in_memory = [](const char* dir) {
      struct statfs fs {};
      return dir && *dir && access(dir, W_OK) == 0 && statfs(dir, &fs) == 0 &&
             fs.f_type == TMPFS_MAGIC;
    };
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    std::string base = in_memory(runtime) ? runtime : in_memory("/dev/shm") ? "/dev/shm" : g_get_tmp_dir();
    std::string templ = base + "/ovalis-bytes-XXXXXX";
    // mkdtemp makes the folder 0700: only this user can read what we offer.
    if (!mkdtemp(templ.data())) {
      *error = "cannot make a folder in " + base + ": " + std::strerror(errno);
      return std::nullopt;
    }
    dir_ = templ;
  }
  std::string path = dir_ + "/" + std::string(id);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  const char* p = static_cast<const char*>(data);
  size_t off = 0;
  while (off < size) {
    ssize_t w = ::write(fd, p + off, size - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      *error = "cannot write " + path + ": " + std::strerror(w < 0 ? errno : ENOSPC);
      close(fd);
      unlink(path.c_str());
      return std::nullopt;
    }
    off += size_t(w);
  }
  if (close(fd) != 0) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(path.c_str());
    return std::nullopt;
  }
  return path;
}

void Outbox::clear() {
  if (dir_.empty()) return;
  // Offers the launcher never took are ours to remove.
  if (DIR* d = opendir(dir_.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") unlink((dir_ + "/" + name).c_str());
    }
    closedir(d);
  }
  rmdir(dir_.c_str());
  dir_.clear();
}

}  // namespace ovalis::blob
