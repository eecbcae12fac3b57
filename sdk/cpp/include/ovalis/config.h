// The application's ovalis.json: read, checked and turned into the
// launcher's command line and environment. docs/ovalis-json.md is the
// reference for the fields and for the exact wording of every error.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovalis {

struct AppConfig {
  std::string dir;   // the application folder, absolute
  std::string file;  // the file's path as given, for messages

  std::string id, name, version, description;
  std::string icon;  // relative to dir; empty when none
  std::string page;  // relative path or http(s) URL, as written

  struct Window {
    std::string title;  // name when not given
    int width = 960, height = 640;
    bool has_chrome = false;
    // The launcher's chrome fields in order; empty leaves a setting alone.
    std::array<std::string, 7> chrome;
    bool accessory = false;
    bool defer_show = false;
  } window;

  struct Command {
    std::vector<std::string> command, build;
    std::vector<std::string> watch{"backend"};
  } backend;

  struct Origin {
    std::string pattern;
    std::vector<std::string> grants;  // "calls", "media.proxy", "media.camera", "media.microphone"
  };
  std::vector<Origin> origins;
  std::vector<std::string> media;  // "camera", "microphone"

  std::string downloads, popups;  // empty when not given
  std::vector<std::string> mime_types, schemes;
  bool automation = false;  // WebKitWebDriver may drive the application

  // The page as the launcher takes it: an absolute file path or the URL.
  std::string page_target() const;
  bool page_is_url() const;
  std::string icon_path() const;  // absolute; empty when none
  // <runtime>/<id>.sock, the fixed socket of the running instance.
  std::string socket_path() const;
  // The OVALIS_* variables the launcher is started with.
  std::vector<std::pair<std::string, std::string>> launcher_env() const;
  // Whether page calls from this origin may reach the backend.
  bool calls_allowed(std::string_view origin) const;
};

// Reads <dir>/ovalis.json, or the file itself when the path names a file.
// An empty path means OVALIS_APP_DIR, else the current folder. On a bad file
// *error gets the one-line message (without a trailing line feed).
std::optional<AppConfig> load_app_config(const std::string& path, std::string* error);

// Checks the text of a file already read. file is the path used in
// messages; dir is the application folder, where page and icon must exist.
std::optional<AppConfig> parse_app_config(std::string_view text, const std::string& file,
                                          const std::string& dir, std::string* error);

// "*" matches any run of characters, everything else itself.
bool origin_glob(std::string_view pattern, std::string_view text);

}  // namespace ovalis
