// Byte ranges for the media proxy: what a page's Range header asks for, and
// how to answer it from whatever the upstream server sent back. Pure text
// code, so it is tested without a network.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// One range of a "Range: bytes=..." header. `suffix` means the last
// `start` bytes ("bytes=-500"); otherwise bytes start..end, inclusive, with
// no end meaning to the end of the body.
struct ByteRange {
  uint64_t start = 0;
  std::optional<uint64_t> end;
  bool suffix = false;
};

// A single well-formed byte range; anything else (other units, several
// ranges, bad numbers) is ignored as HTTP allows, and gives nullopt.
std::optional<ByteRange> parse_byte_range(std::string_view header);

// The range in header form, for passing on upstream.
std::string byte_range_header(const ByteRange& r);

// What the upstream answered, as far as the proxy cares.
struct UpstreamHead {
  int status = 200;
  int64_t length = -1;        // body length; -1 when unknown or encoded
  std::string content_range;  // "" when absent
};

// How the proxy answers the page.
struct ProxyPlan {
  int status = 200;
  int64_t length = -1;        // body bytes sent; -1: until the upstream ends
  uint64_t skip = 0;          // upstream bytes dropped before the first one sent
  std::string content_range;  // "" when none is sent
  bool ranges = false;        // "Accept-Ranges: bytes" rather than "none"
};

// asked: the page's range, if any (it was passed on upstream).
ProxyPlan plan_proxy_reply(const std::optional<ByteRange>& asked, const UpstreamHead& up);
