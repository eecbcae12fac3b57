// ovalis new: a runnable application in a new folder.
#include <glib.h>
#include <glib/gstdio.h>

#include <unistd.h>

#include <cerrno>
#include <map>

#include "ovalis/json.h"
#include "templates.h"
#include "tool.h"

namespace tool {

const char* const kHelpNew =
    "Usage: ovalis new <dir> [--backend cpp|python|node] [--name NAME] [--id ID]\n"
    "\n"
    "Writes a new application into dir, which must not exist or be empty:\n"
    "  ovalis.json        the application's configuration\n"
    "  page/              the page: index.html, app.js, style.css\n"
    "  backend/           the backend, in the chosen language, on its ovalis library\n"
    "  icon.svg           the application's icon\n"
    "  README.md          how to run, test and package it\n"
    "  test/smoke.sh      starts the application and checks that its page\n"
    "                     reaches the backend\n"
    "The application runs at once with 'ovalis dev dir'.\n"
    "\n"
    "Options:\n"
    "  --backend LANG   the backend's language: cpp (default; built with make\n"
    "                   and the ovalis-backend library), python (Python 3.11 or\n"
    "                   later) or node (Node.js 18 or later)\n"
    "  --name NAME      the name shown to users (default: made from dir)\n"
    "  --id ID          the reverse-DNS application id (default:\n"
    "                   org.example.<dir>)\n"
    "  -h, --help       show this help and exit\n"
    "\n"
    "Exit status: 0 written, 1 a file could not be written, 2 bad usage.\n";

namespace {

std::string fill(std::string text, const std::map<std::string, std::string>& vars) {
  for (auto& [key, value] : vars) {
    std::string k = "@" + key + "@";
    for (size_t at = text.find(k); at != std::string::npos; at = text.find(k, at + value.size()))
      text.replace(at, k.size(), value);
  }
  return text;
}

// "my_app 2" -> "my-app-2": letters, digits and single dashes, starting with a letter.
std::string slug_of(const std::string& base) {
  std::string s;
  for (char ch : base) {
    if (g_ascii_isalnum(ch))
      s += g_ascii_tolower(ch);
    else if (!s.empty() && s.back() != '-')
      s += '-';
  }
  while (!s.empty() && (s.back() == '-')) s.pop_back();
  while (!s.empty() && !g_ascii_isalpha(s[0])) s.erase(0, 1);
  return s.empty() ? "app" : s;
}

std::string name_of(const std::string& slug) {
  std::string n;
  bool up = true;
  for (char ch : slug) {
    if (ch == '-') {
      n += ' ';
      up = true;
    } else {
      n += up ? g_ascii_toupper(ch) : ch;
      up = false;
    }
  }
  return n;
}

bool empty_or_missing(const std::string& dir) {
  if (!g_file_test(dir.c_str(), G_FILE_TEST_EXISTS)) return true;
  GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
  if (!d) return false;
  bool empty = g_dir_read_name(d) == nullptr;
  g_dir_close(d);
  return empty;
}

}  // namespace

int cmd_new(const Args& args) {
  std::string dir, backend = "cpp", name, id;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") return g_print("%s", kHelpNew), kOk;
    auto value = [&](const char* opt, std::string* out) -> int {
      std::string o = opt;
      if (a == o) {
        if (i + 1 >= args.size()) return usage_error("new", o + " needs a value");
        *out = args[++i];
        return 1;
      }
      if (a.starts_with(o + "=")) {
        *out = a.substr(o.size() + 1);
        return 1;
      }
      return 0;
    };
    int r;
    if ((r = value("--backend", &backend)) || (r = value("--name", &name)) || (r = value("--id", &id))) {
      if (r != 1) return r;
      continue;
    }
    if (a.starts_with("-")) return usage_error("new", "unknown option " + a);
    if (!dir.empty()) return usage_error("new", "more than one folder given");
    dir = a;
  }
  if (dir.empty()) return usage_error("new", "no folder given");
  if (backend != "cpp" && backend != "python" && backend != "node")
    return usage_error("new", "--backend: expected cpp, python or node, got '" + backend + "'");
  if (!empty_or_missing(dir)) return fail("new", dir + " exists and is not empty", kUsage);

  gchar* abs = g_canonicalize_filename(dir.c_str(), nullptr);
  gchar* base = g_path_get_basename(abs);
  std::string slug = slug_of(base);
  g_free(base);
  g_free(abs);
  if (name.empty()) name = name_of(slug);
  if (id.empty()) id = "org.example." + slug;

  // The same checks as the file will get, worded for the command line.
  std::string probe = "{\"id\":" + ovalis::json_quote(id) + ",\"name\":" + ovalis::json_quote(name) +
                      ",\"version\":\"1\",\"page\":\"https://x\",\"backend\":{\"command\":[\"x\"]}}";
  std::string err;
  if (!ovalis::parse_app_config(probe, "", "/", &err)) {
    std::string field = err.substr(2, err.find(':', 2) - 2);
    return usage_error("new", "--" + field + err.substr(2 + field.size()));
  }

  gchar* name_html = g_markup_escape_text(name.c_str(), -1);
  std::map<std::string, std::string> vars{{"NAME", name},          {"NAME_HTML", name_html},
                                          {"NAME_JSON", ovalis::json_quote(name)},
                                          {"ID", id},              {"SLUG", slug},
                                          {"PKG", package_name(id)},
                                          {"NODE_LIB", node_library()}};
  g_free(name_html);
  const char* backend_block = backend == "cpp"      ? kTplCppBackend
                              : backend == "python" ? kTplPythonBackend
                                                    : kTplNodeBackend;
  vars["BACKEND"] = fill(backend_block, vars);

  std::vector<std::tuple<std::string, const char*, int>> files{
      {"page/index.html", kTplPageHtml, 0644}, {"page/app.js", kTplPageJs, 0644},
      {"page/style.css", kTplPageCss, 0644},   {"icon.svg", kTplIcon, 0644},
      {"README.md", kTplReadme, 0644},         {"test/smoke.sh", kTplSmoke, 0755},
      {".gitignore", kTplGitignore, 0644},     {"ovalis.json", kTplAppJson, 0644}};
  if (backend == "cpp") {
    files.emplace_back("backend/main.cpp", kTplCppMain, 0644);
    files.emplace_back("Makefile", kTplCppMakefile, 0644);
  } else if (backend == "python") {
    files.emplace_back("backend/main.py", kTplPythonMain, 0755);
  } else {
    files.emplace_back("backend/main.mjs", kTplNodeMain, 0644);
    files.emplace_back("package.json", kTplNodePackage, 0644);
  }
  for (auto& [rel, text, mode] : files) {
    std::string path = dir + "/" + rel;
    if (!write_file(path, fill(text, vars), mode, &err)) return fail("new", err);
  }
  if (backend == "node") {
    // The library is linked in rather than fetched: it comes with launcher.
    std::string nm = dir + "/node_modules";
    g_mkdir_with_parents(nm.c_str(), 0755);
    if (symlink(node_library().c_str(), (nm + "/ovalis-backend").c_str()) != 0)
      return fail("new", "cannot link " + nm + "/ovalis-backend: " + g_strerror(errno));
  }
  g_print("Created %s (%s backend) in %s\n", name.c_str(), backend.c_str(), dir.c_str());
  g_print("Next:\n  cd %s\n  ovalis dev\n", dir.c_str());
  return kOk;
}

}  // namespace tool
