// Origin trust rules of the media proxy and of camera and microphone
// access: pure text code, shared by the scheme handler and the permission
// handler.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct MediaRule {
  std::string key;
  std::string pattern;
};

// "*" matches any run of characters (also none); every other character
// matches itself, case-sensitively.
bool media_glob(std::string_view pattern, std::string_view text);

// Lines "<key> <pattern>" split at the first space, taken exactly; lines
// without a space are skipped.
std::vector<MediaRule> parse_media_rules(std::string_view text);

// "file://" is trusted for every key; other origins when a rule of that key
// matches the whole origin.
bool media_rules_trust(const std::vector<MediaRule>& rules, std::string_view key,
                       std::string_view origin);

// The document key of a proxied address ("k=<key>" among the query
// parameters before the "u=" that starts the target); "" when it has none.
std::string proxy_key_of(std::string_view uri);
