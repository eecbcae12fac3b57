// Bytes between page and backend (internal to the library): files the
// launcher announces with "BLOB {json}" lines and page calls name with
// {"$blob":"<id>","size":N} references, and files this backend offers with
// "BLOB <id> move <path>" before answering with such a reference.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "ovalis/json.h"

namespace ovalis::blob {

// Uploads the launcher has announced and no call has named yet. The oldest
// is dropped (and its file removed) beyond `limit`, so a page that uploads
// and never calls cannot fill the disk through us.
class Inbox {
 public:
  explicit Inbox(size_t limit = 256) : limit_(limit) {}
  ~Inbox() { clear(); }
  Inbox(const Inbox&) = delete;
  Inbox& operator=(const Inbox&) = delete;

  // The JSON of a "BLOB {...}" line; malformed announcements are ignored.
  void announce(std::string_view json_text);
  // Replaces every reference in params by the bytes of its file, then
  // removes the files. False, with the id in *bad, when a reference names
  // no announced upload or its file cannot be read in full; the files the
  // call named are removed then too.
  bool resolve(Json& params, std::string* bad);
  // Removes the files a call names without reading them: for calls that
  // never reach a handler.
  void discard(const Json& params);
  void clear();
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::string id, path;
    uint64_t size = 0;
  };
  std::deque<Entry> entries_;
  size_t limit_;
  std::optional<Entry> take(std::string_view id);
};

// A reference {"$blob":"<id>","size":N} (those two members and no other);
// nullptr when j is not one.
const std::string* reference_id(const Json& j);
// Whether a CALL line may hold a reference at all: the cheap test that
// keeps calls without bytes on their old path.
inline bool may_hold_reference(std::string_view call_line) {
  return call_line.find("$blob") != std::string_view::npos;
}
// A fresh id: 32 hex digits from the kernel's random source.
std::string random_id();

// Files this backend offers to the launcher, in a private folder made on
// first use and removed with everything in it by clear().
class Outbox {
 public:
  Outbox() = default;
  ~Outbox() { clear(); }
  Outbox(const Outbox&) = delete;
  Outbox& operator=(const Outbox&) = delete;

  // Writes data to a new file; its path, or nullopt with *error set.
  std::optional<std::string> write(std::string_view id, const void* data, size_t size,
                                   std::string* error);
  void clear();
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace ovalis::blob
