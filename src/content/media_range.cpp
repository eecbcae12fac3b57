#include "content/media_range.h"

#include <cctype>

namespace {

// Decimal digits only, no sign, no overflow.
std::optional<uint64_t> number(std::string_view s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  return v;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

struct ContentRange {
  uint64_t first = 0, last = 0;
  std::optional<uint64_t> total;
};

// "bytes first-last/total" or "bytes first-last/*".
std::optional<ContentRange> parse_content_range(std::string_view s) {
  s = trim(s);
  if (s.substr(0, 6) != "bytes ") return std::nullopt;
  s.remove_prefix(6);
  size_t dash = s.find('-'), slash = s.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
    return std::nullopt;
  auto first = number(trim(s.substr(0, dash)));
  auto last = number(trim(s.substr(dash + 1, slash - dash - 1)));
  if (!first || !last || *last < *first) return std::nullopt;
  ContentRange cr{*first, *last, std::nullopt};
  std::string_view total = trim(s.substr(slash + 1));
  if (total != "*") {
    cr.total = number(total);
    if (!cr.total || *cr.total <= *last) return std::nullopt;
  }
  return cr;
}

std::string content_range(uint64_t first, uint64_t last, uint64_t total) {
  return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(total);
}

}  // namespace

std::optional<ByteRange> parse_byte_range(std::string_view header) {
  std::string_view s = trim(header);
  if (s.size() < 6) return std::nullopt;
  for (size_t i = 0; i < 6; ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != "bytes="[i]) return std::nullopt;
  s = trim(s.substr(6));
  if (s.find(',') != std::string_view::npos) return std::nullopt;
  size_t dash = s.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  std::string_view a = trim(s.substr(0, dash)), b = trim(s.substr(dash + 1));
  ByteRange r;
  if (a.empty()) {
    auto n = number(b);
    if (!n || *n == 0) return std::nullopt;
    r.suffix = true;
    r.start = *n;
    return r;
  }
  auto start = number(a);
  if (!start) return std::nullopt;
  r.start = *start;
  if (!b.empty()) {
    auto end = number(b);
    if (!end || *end < *start) return std::nullopt;
    r.end = end;
  }
  return r;
}

std::string byte_range_header(const ByteRange& r) {
  if (r.suffix) return "bytes=-" + std::to_string(r.start);
  std::string s = "bytes=" + std::to_string(r.start) + "-";
  if (r.end) s += std::to_string(*r.end);
  return s;
}

ProxyPlan plan_proxy_reply(const std::optional<ByteRange>& asked, const UpstreamHead& up) {
  ProxyPlan p;
  p.length = up.length;
  // Without a range, every answer reaches the page as 200 with the
  // upstream's body, error pages included. A known length can be served
  // in ranges later, by the upstream or by skipping.
  if (!asked) {
    p.ranges = up.length >= 0;
    return p;
  }
  if (up.status == 206) {
    if (auto cr = parse_content_range(up.content_range)) {
      p.status = 206;
      p.length = static_cast<int64_t>(cr->last - cr->first + 1);
      p.content_range = up.content_range;
      p.ranges = true;
      return p;
    }
    // A partial answer that does not say which part cannot be placed.
    p.status = 502;
    p.length = 0;
    return p;
  }
  if (up.status == 416) {
    p.status = 416;
    p.length = 0;
    p.content_range = up.content_range;
    p.ranges = true;
    return p;
  }
  if (up.status < 200 || up.status > 299) return p;

  // The upstream sent the whole body: answer the range from it, dropping
  // what comes before, as it streams past.
  if (up.length < 0) {
    // Without a length no range can be stated; the page gets the stream
    // from its start and learns it cannot seek.
    return p;
  }
  uint64_t total = static_cast<uint64_t>(up.length);
  uint64_t first = asked->suffix ? (asked->start >= total ? 0 : total - asked->start) : asked->start;
  uint64_t last = total == 0 ? 0 : total - 1;
  if (!asked->suffix && asked->end && *asked->end < last) last = *asked->end;
  p.ranges = true;
  if (total == 0 || first >= total) {
    p.status = 416;
    p.length = 0;
    p.content_range = "bytes */" + std::to_string(total);
    return p;
  }
  p.status = 206;
  p.skip = first;
  p.length = static_cast<int64_t>(last - first + 1);
  p.content_range = content_range(first, last, total);
  return p;
}
