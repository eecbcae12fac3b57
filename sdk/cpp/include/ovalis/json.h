// A small JSON value for backends: enough to decode the page's call
// // payloads, the launcher's answers and events, and to build answers.
// Objects keep their members in order so the answers read back the way they
// were written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ovalis {

struct Json;
using JsonArray = std::vector<Json>;
using JsonObject = std::vector<std::pair<std::string, Json>>;
// Binary data. JSON text has no spelling for it: a page call's parameter
// that the page sent with sendBytes arrives as Bytes, and a call answered
// with Bytes reaches the page's fetchBytes (see Call::resolve). Anywhere
// else json_dump writes it as a Base64 string.
using Bytes = std::vector<std::uint8_t>;

struct Json {
  std::variant<std::nullptr_t, bool, double, std::string, JsonArray, JsonObject, Bytes> v;

  Json() : v(nullptr) {}
  Json(std::nullptr_t) : v(nullptr) {}
  Json(bool b) : v(b) {}
  Json(double d) : v(d) {}
  Json(int i) : v(static_cast<double>(i)) {}
  Json(long long i) : v(static_cast<double>(i)) {}
  Json(const char* s) : v(std::string(s)) {}
  Json(std::string s) : v(std::move(s)) {}
  Json(JsonArray a) : v(std::move(a)) {}
  Json(JsonObject o) : v(std::move(o)) {}
  Json(Bytes b) : v(std::move(b)) {}

  bool is_null() const { return std::holds_alternative<std::nullptr_t>(v); }
  bool is_bool() const { return std::holds_alternative<bool>(v); }
  bool is_number() const { return std::holds_alternative<double>(v); }
  bool is_string() const { return std::holds_alternative<std::string>(v); }
  bool is_array() const { return std::holds_alternative<JsonArray>(v); }
  bool is_object() const { return std::holds_alternative<JsonObject>(v); }
  bool is_bytes() const { return std::holds_alternative<Bytes>(v); }

  bool boolean() const { return std::get<bool>(v); }
  const std::string& str() const { return std::get<std::string>(v); }
  double num() const { return std::get<double>(v); }
  const JsonArray& arr() const { return std::get<JsonArray>(v); }
  const JsonObject& obj() const { return std::get<JsonObject>(v); }
  const Bytes& bytes() const { return std::get<Bytes>(v); }

  // Member lookup; nullptr when this is not an object or has no such key.
  const Json* get(std::string_view key) const;
  // Sets or replaces a member; turns a non-object into an empty object first.
  void set(std::string key, Json value);
  // Removes a member; true when it was there.
  bool erase(std::string_view key);

  // Member readers with a fallback for a missing member or another type.
  std::string str_or(std::string_view key, std::string fallback = {}) const;
  double num_or(std::string_view key, double fallback = 0) const;
  bool bool_or(std::string_view key, bool fallback = false) const;
};

// Parses one complete JSON text (surrounding white space allowed). Nesting
// deeper than 256 levels, trailing garbage, bad escapes or invalid numbers
// give nullopt.
std::optional<Json> json_parse(std::string_view text);

// Parses a document that a person wrote (a configuration file): repeated
// members are kept, in order, so the reader can refuse them, and on failure
// *error_offset gets the byte offset where the text stopped making sense.
std::optional<Json> json_parse_document(std::string_view text, size_t* error_offset);

// Compact JSON text. Never contains a raw line break, so it is always safe
// as the last part of a wire line. Numbers that are not finite become null.
std::string json_dump(const Json& j);

// A quoted JSON string literal for s.
std::string json_quote(std::string_view s);

// An object from key/value pairs: obj({{"ok", true}, {"n", 3}}).
inline Json obj(JsonObject members) { return Json(std::move(members)); }
inline Json arr(JsonArray items) { return Json(std::move(items)); }

}  // namespace ovalis
