// Pure text rules of navigation, dialogs and downloads: no toolkit, so unit
// tests and fuzzers use them alone.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// True for the schemes a web view loads itself (http, https, file, about,
// data, blob, javascript, ovalis-media), matched without regard to ASCII case.
bool scheme_is_ours(std::string_view scheme);

// The scheme of an address (the text before the first ':', ASCII lower-cased);
// "" when there is none or the address starts with ':'.
std::string uri_scheme(std::string_view uri);

// "NAVR" verdicts: 1 for "deny", 2 for "external", 0 for anything else.
int nav_action_for(std::string_view verdict);

// The id and verdict of "<id> <verdict>"; false without a space after the id.
bool split_answer(std::string_view rest, std::string_view* id, std::string_view* verdict);

// A popup verdict as it is carried out: "external" and "deny" stand, any
// other verdict becomes the fallback.
std::string popup_action(std::string_view verdict, std::string_view fallback);

// A cap on how often something may happen: true (and the time recorded)
// when fewer than `limit` of the times kept lie within `span` before `now`.
bool rate_allow(std::deque<int64_t>& times, int64_t now, size_t limit, int64_t span);

// The file extension for a MIME type (parameters after ';' cut off, matched
// exactly and case-sensitively); "" when the type is not known.
std::string ext_for_mime(std::string_view mime);

// A download's file name: the suggested one, else "download"; an extension
// from the MIME type is added when the name has no dot.
std::string download_base_name(std::string_view suggested, std::string_view mime);

// "name" when taken() does not report it as taken, else a free "stem
// (n).ext": the first free one when copies 2, 3, ... have no gaps. The
// numbering goes on as far as needed, so an existing file is never chosen,
// and the search asks taken() only logarithmically often.
std::string free_download_name(const std::string& name,
                               const std::function<bool(const std::string&)>& taken);

// The extension filter of a dialog's comma-separated extension list.
struct ExtFilter {
  std::vector<std::string> patterns;  // "*.png", "*.PNG", ...
  std::string name;                   // "*.png, *.jpg"
  std::string default_ext;            // first non-empty item
};
ExtFilter ext_filter_for(std::string_view list);

// A saved path gets the default extension when its file name has no dot.
std::string with_default_ext(const std::string& path, std::string_view ext);

// Alert and confirm details: backslash-n is a line break, backslash-backslash
// one backslash; any other backslash stays.
std::string dialog_detail_text(std::string_view s);
