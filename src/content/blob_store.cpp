// The bytes path's files: launcher's private upload directory, and the
// offers the backend makes with "BLOB <id> <mode> <path>".
#include "content/blob_store.h"

#include <fcntl.h>
#include <sys/random.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "content/content.h"
#include "core/gobj.h"
#include "core/wire.h"

namespace {

// Offers the page has not fetched yet.
constexpr size_t kMaxOffers = 256;
constexpr gint64 kOfferLifeUs = 60 * G_USEC_PER_SEC;

std::string g_blob_dir;

struct Offer {
  int fd = -1;
  guint64 size = 0;
  gint64 expires = 0;
};
std::map<std::string, Offer, std::less<>> g_blob_offers;
guint g_blob_sweep = 0;

void close_offer(Offer& o) {
  if (o.fd >= 0) close(o.fd);
  o.fd = -1;
}

bool valid_id_(std::string_view id) {
  if (id.empty() || id.size() > 64) return false;
  for (char c : id)
    if (!g_ascii_isalnum(c) && c != '_' && c != '-') return false;
  return true;
}

std::string random_id() {
  unsigned char b[16];
  if (getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) {
    for (auto& x : b) x = static_cast<unsigned char>(g_random_int());
  }
  std::string id = "u";
  static const char hex[] = "0123456789abcdef";
  for (unsigned char x : b) {
    id += hex[x >> 4];
    id += hex[x & 15];
  }
  return id;
}
bool in_memory(const char* dir) {
  struct statfs fs {};
  return statfs(dir, &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

}  // namespace

bool blob_valid_id(std::string_view id) { return valid_id_(id); }

const std::string& blob_dir() {
  if (!g_blob_dir.empty()) return g_blob_dir;
  // The files should live in memory: the runtime directory when it does (it
  // is private to the user), else the shared memory one (the directory made
  // there is private all the same), else the temporary directory.
  const char* base = g_getenv("XDG_RUNTIME_DIR");
  if (!base || !*base || access(base, W_OK) != 0 || !in_memory(base)) {
    base = in_memory("/dev/shm") && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : g_get_tmp_dir();
  }
  GChars tmpl(g_build_filename(base, "ovalis-blob-XXXXXX", nullptr));
  if (g_mkdtemp_full(tmpl.get(), 0700)) g_blob_dir = tmpl.get();
  return g_blob_dir;
}

namespace {

int waiting_uploads() {
  GDir* d = g_dir_open(g_blob_dir.c_str(), 0, nullptr);
  if (!d) return 0;
  int n = 0;
  while (g_dir_read_name(d)) ++n;
  g_dir_close(d);
  return n;
}

void sweep_offers() {
  gint64 now = g_get_monotonic_time();
  for (auto it = g_blob_offers.begin(); it != g_blob_offers.end();) {
    if (it->second.expires <= now) {
      close_offer(it->second);
      it = g_blob_offers.erase(it);
    } else {
      ++it;
    }
  }
}

gboolean on_sweep(gpointer) {
  sweep_offers();
  if (!g_blob_offers.empty()) return G_SOURCE_CONTINUE;
  g_blob_sweep = 0;
  return G_SOURCE_REMOVE;
}

void drop_oldest_offer() {
  auto oldest = g_blob_offers.begin();
  for (auto it = g_blob_offers.begin(); it != g_blob_offers.end(); ++it)
    if (it->second.expires < oldest->second.expires) oldest = it;
  if (oldest == g_blob_offers.end()) return;
  close_offer(oldest->second);
  g_blob_offers.erase(oldest);
}
}  // namespace

int blob_create_upload(guint64 size, std::string* id, std::string* path, std::string* error,
                       int* status) {
  *status = 500;
  if (size > kBlobMaxUpload) {
    *status = 413;
    *error = "the bytes are larger than 1 GiB";
    return -1;
  }
  if (blob_dir().empty()) {
    *error = "no directory for the bytes";
    return -1;
  }
  if (waiting_uploads() >= kBlobMaxWaiting) {
    *status = 507;
    *error = "too many bytes are waiting for the backend";
    return -1;
  }
  *id = random_id();
  *path = g_blob_dir + "/" + *id;
  int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) *error = std::string("cannot store the bytes: ") + g_strerror(errno);
  return fd;
}

void blob_announce(const std::string& id, guint64 size, const std::string& path,
                   const std::string& origin) {
  std::string line = "BLOB {\"id\":\"" + id + "\",\"size\":" + std::to_string(size) + ",\"path\":";
  json_escape_to(line, path);
  line += ",\"origin\":";
  json_escape_to(line, origin);
  line += '}';
  pipe_write_line(line);
}

int blob_take_offer(std::string_view id, guint64* size) {
  sweep_offers();
  auto it = g_blob_offers.find(id);
  if (it == g_blob_offers.end()) return -1;
  int fd = it->second.fd;
  *size = it->second.size;
  g_blob_offers.erase(it);
  return fd;
}

namespace {

bool remove_tree(const std::string& dir) {
  GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
  if (!d) return false;
  while (const char* name = g_dir_read_name(d)) unlink((dir + "/" + name).c_str());
  g_dir_close(d);
  return rmdir(dir.c_str()) == 0;
}
}  // namespace

void do_blob(std::string_view rest) {
  size_t a = rest.find(' ');
  size_t b = a == std::string_view::npos ? a : rest.find(' ', a + 1);
  if (b == std::string_view::npos) {
    std::fputs("ovalis: BLOB: expected \"BLOB <id> <mode> <path>\"\n", stderr);
    return;
  }
  std::string_view id = rest.substr(0, a), mode = rest.substr(a + 1, b - a - 1);
  std::string path = wire_unescape(rest.substr(b + 1));
  if (!valid_id_(id) || (mode != "move" && mode != "keep") || path.empty() || path[0] != '/') {
    std::fprintf(stderr, "ovalis: BLOB: bad id, mode or path in \"BLOB %.*s\"\n",
                 static_cast<int>(std::min<size_t>(rest.size(), 200)), rest.data());
    return;
  }
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "ovalis: BLOB: cannot open %s as a regular file: %s\n", path.c_str(),
                 fd < 0 ? g_strerror(errno) : "not a regular file");
    if (fd >= 0) close(fd);
    return;
  }
  if (mode == "move") {
    // Only the file that was opened goes, never one put there since.
    struct stat now {};
    if (lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
      unlink(path.c_str());
  }
  sweep_offers();
  auto old = g_blob_offers.find(id);
  if (old != g_blob_offers.end()) {
    close_offer(old->second);
    g_blob_offers.erase(old);
  }
  while (g_blob_offers.size() >= kMaxOffers) drop_oldest_offer();
  g_blob_offers.emplace(std::string(id), Offer{fd, static_cast<guint64>(st.st_size),
                                               g_get_monotonic_time() + kOfferLifeUs});
  if (!g_blob_sweep) g_blob_sweep = g_timeout_add_seconds(10, on_sweep, nullptr);
}
void blob_stop() {
  if (!g_blob_dir.empty()) remove_tree(g_blob_dir);
}
