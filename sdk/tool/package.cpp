// ovalis package: a Debian package and a relocatable tarball of the
// application, both made from one staged tree.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "tool.h"

namespace tool {

const char* const kHelpPackage =
    "Usage: ovalis package [--maintainer 'NAME <EMAIL>'] [--output DIR] [--lint] [dir]\n"
    "\n"
    "Builds the application in dir (default: the current folder) for\n"
    "installation. The build command (backend.build) runs first. Writes:\n"
    "  DIR/<package>_<version>_<arch>.deb   a Debian package\n"
    "  DIR/<package>-<version>.tar.gz       a relocatable tarball\n"
    "where <package> is the application id in lower case with '.' and '_'\n"
    "made '-', and DIR defaults to dir/dist.\n"
    "\n"
    "The Debian package holds:\n"
    "  /usr/lib/<package>/                the application folder (everything\n"
    "                                     but dist/, test/ and hidden files)\n"
    "  /usr/bin/<package>                 starts the application\n"
    "  /usr/share/applications/<id>.desktop\n"
    "                                     its desktop entry (from\n"
    "                                     share/ovalis/app.desktop.in): opens.mimeTypes\n"
    "                                     and x-scheme-handler/<scheme> for\n"
    "                                     opens.schemes, all through\n"
    "                                     'launcher --open', which hands them to\n"
    "                                     the running instance or starts it\n"
    "  /usr/share/icons/hicolor/*/apps/<id>.png (and scalable/ for an SVG)\n"
    "                                     the icon in the hicolor sizes\n"
    "  /usr/share/doc/<package>/          copyright and changelog\n"
    "It depends on ovalis-launcher and on the backend's runtime (python3 or\n"
    "nodejs). Its architecture is 'all' unless the application folder holds\n"
    "native programs.\n"
    "\n"
    "The tarball unpacks to <package>-<version>/ with bin/<package>, which\n"
    "runs the application from wherever the folder is, and lib/ and share/\n"
    "as above.\n"
    "\n"
    "Options:\n"
    "  --maintainer 'NAME <EMAIL>'  the package's maintainer (default:\n"
    "                               DEBFULLNAME and DEBEMAIL, else made from\n"
    "                               the application id)\n"
    "  --output DIR                 where to write (default: dir/dist)\n"
    "  --lint                       run lintian on the package afterwards;\n"
    "                               errors fail the command\n"
    "  -h, --help                   show this help and exit\n"
    "\n"
    "Exit status: 0 built, 1 the build or a packaging tool failed, 2 bad\n"
    "usage or a bad ovalis.json.\n";

namespace {

const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

bool excluded(const std::string& rel) {
  return rel == "dist" || rel == "test" || rel.empty() || rel[0] == '.';
}

// Copies the application folder; true when it holds an ELF program.
bool copy_tree(const std::string& from, const std::string& to, bool top, bool* native, std::string* err,
               std::vector<std::string>* programs) {
  g_mkdir_with_parents(to.c_str(), 0755);
  GDir* d = g_dir_open(from.c_str(), 0, nullptr);
  if (!d) {
    *err = "cannot read " + from;
    return false;
  }
  std::vector<std::string> names;
  while (const char* n = g_dir_read_name(d)) names.emplace_back(n);
  g_dir_close(d);
  std::sort(names.begin(), names.end());
  for (auto& n : names) {
    if (n[0] == '.' || (top && excluded(n))) continue;
    std::string src = from + "/" + n, dst = to + "/" + n;
    struct stat st;
    if (lstat(src.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      gchar* target = g_file_read_link(src.c_str(), nullptr);
      if (target && symlink(target, dst.c_str()) != 0) *err = "cannot link " + dst;
      g_free(target);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!copy_tree(src, dst, false, native, err, programs)) return false;
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    std::string data;
    if (!read_file(src, &data)) {
      *err = "cannot read " + src;
      return false;
    }
    bool exec = (st.st_mode & 0111) != 0;
    bool elf = data.size() >= 4 && data.compare(0, 4, "\x7f" "ELF") == 0;
    if (!write_file(dst, data, exec ? 0755 : 0644, err)) return false;
    if (elf) {
      *native = true;
      programs->push_back(dst);
    }
  }
  return true;
}

void tree_size(const std::string& dir, guint64* bytes) {
  GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
  if (!d) return;
  while (const char* n = g_dir_read_name(d)) {
    std::string p = dir + "/" + n;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) tree_size(p, bytes);
    else *bytes += guint64(st.st_size);
  }
  g_dir_close(d);
}

void md5sums(const std::string& root, const std::string& rel, std::string* out) {
  std::string dir = root + "/" + rel;
  GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
  if (!d) return;
  std::vector<std::string> names;
  while (const char* n = g_dir_read_name(d)) names.emplace_back(n);
  g_dir_close(d);
  std::sort(names.begin(), names.end());
  for (auto& n : names) {
    std::string r = rel.empty() ? n : rel + "/" + n;
    if (r == "DEBIAN") continue;
    std::string p = root + "/" + r;
    struct stat st;
    if (lstat(p.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      md5sums(root, r, out);
    } else if (S_ISREG(st.st_mode)) {
      std::string data;
      read_file(p, &data);
      gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_MD5, reinterpret_cast<const guchar*>(data.data()),
                                               data.size());
      *out += std::string(sum) + "  " + r + "\n";
      g_free(sum);
    }
  }
}

bool render_icons(const ovalis::AppConfig& c, const std::string& root, std::string* err) {
  if (c.icon.empty()) return true;
  std::string src = c.icon_path();
  bool svg = src.size() > 4 && g_ascii_strcasecmp(src.c_str() + src.size() - 4, ".svg") == 0;
  std::string share = root + "/share/icons/hicolor";
  if (svg) {
    std::string data;
    read_file(src, &data);
    if (!write_file(share + "/scalable/apps/" + c.id + ".svg", data, 0644, err)) return false;
  }
  for (int size : kIconSizes) {
    GError* e = nullptr;
    GdkPixbuf* pb = gdk_pixbuf_new_from_file_at_scale(src.c_str(), size, size, TRUE, &e);
    if (!pb) {
      *err = "cannot read the icon " + c.icon + ": " + e->message;
      g_error_free(e);
      return false;
    }
    std::string dir = share + "/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
    g_mkdir_with_parents(dir.c_str(), 0755);
    std::string out = dir + "/" + c.id + ".png";
    gboolean ok = gdk_pixbuf_save(pb, out.c_str(), "png", &e, nullptr);
    g_object_unref(pb);
    if (!ok) {
      *err = "cannot write " + out + ": " + e->message;
      g_error_free(e);
      return false;
    }
    g_chmod(out.c_str(), 0644);
  }
  return true;
}

// Text for a desktop entry's value: the escapes of the desktop entry format.
std::string desktop_value(const std::string& s) {
  std::string out;
  for (char ch : s) {
    if (ch == '\\') out += "\\\\";
    else if (ch == '\n') out += "\\n";
    else if (ch == '\t') out += "\\t";
    else out += ch;
  }
  return out;
}

std::string replace_all(std::string text, const std::string& key, const std::string& value) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
    text.replace(at, key.size(), value);
  return text;
}

std::string desktop_entry(const ovalis::AppConfig& c, const std::string& tpl, const std::string& exe) {
  // The template's comment block is for people filling it in by hand.
  std::string body = tpl.substr(std::min(tpl.find("[Desktop Entry]"), tpl.size()));
  std::string mimes;
  for (auto& m : c.mime_types) mimes += m + ";";
  for (auto& s : c.schemes) mimes += "x-scheme-handler/" + s + ";";
  std::string comment = c.description.empty() ? c.name : c.description;
  body = replace_all(body, "@APP_ID@", c.id);
  body = replace_all(body, "@NAME@", desktop_value(c.name));
  body = replace_all(body, "@COMMENT@", desktop_value(comment));
  body = replace_all(body, "@APP_EXE@", exe);
  body = replace_all(body, "@ICON@", c.icon.empty() ? "application-x-executable" : c.id);
  if (mimes.empty()) {
    size_t at = body.find("MimeType=@MIME_TYPES@\n");
    if (at != std::string::npos) body.erase(at, std::string("MimeType=@MIME_TYPES@\n").size());
  }
  return replace_all(body, "@MIME_TYPES@", mimes);
}

std::string default_maintainer(const ovalis::AppConfig& c) {
  const char* name = g_getenv("DEBFULLNAME");
  const char* mail = g_getenv("DEBEMAIL");
  if (mail && *mail) return std::string(name && *name ? name : c.name + " maintainers") + " <" + mail + ">";
  // org.example.Hello -> maintainers@example.org
  gchar** parts = g_strsplit(c.id.c_str(), ".", -1);
  guint n = g_strv_length(parts);
  std::string domain;
  for (guint i = n - 1; i-- > 0;) {
    std::string part = parts[i];
    for (auto& ch : part) ch = g_ascii_tolower(ch);
    domain += (domain.empty() ? "" : ".") + part;
  }
  g_strfreev(parts);
  return c.name + " maintainers <maintainers@" + domain + ">";
}

std::string rfc2822_now() {
  char buf[64];
  time_t t = time(nullptr);
  const char* epoch = g_getenv("SOURCE_DATE_EPOCH");
  if (epoch && *epoch) t = time_t(g_ascii_strtoll(epoch, nullptr, 10));
  struct tm tm;
  gmtime_r(&t, &tm);
  // The C locale's names, whatever the user's locale.
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  g_snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday], tm.tm_mday,
             months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

std::string runtime_depends(const ovalis::AppConfig& c, bool native) {
  std::string d = "ovalis-launcher (>= 0.9)";
  const std::string& prog = c.backend.command[0];
  gchar* base = g_path_get_basename(prog.c_str());
  std::string b = base;
  g_free(base);
  if (b.starts_with("python3")) d += ", python3 (>= 3.11)";
  else if (b == "node" || b == "nodejs") d += ", nodejs (>= 18)";
  if (native) d += ", libc6 (>= 2.36), libglib2.0-0 (>= 2.74), libstdc++6 (>= 12)";
  return d;
}

std::string dpkg_arch() {
  gchar* out = nullptr;
  if (g_spawn_command_line_sync("dpkg --print-architecture", &out, nullptr, nullptr, nullptr) && out) {
    std::string a = g_strstrip(out);
    g_free(out);
    if (!a.empty()) return a;
  }
  return "amd64";
}

void remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    if (GDir* d = g_dir_open(path.c_str(), 0, nullptr)) {
      while (const char* n = g_dir_read_name(d)) remove_tree(path + "/" + n);
      g_dir_close(d);
    }
    g_rmdir(path.c_str());
  } else {
    g_unlink(path.c_str());
  }
}

}  // namespace

int cmd_package(const Args& args) {
  std::string dir, output, maintainer;
  bool lint = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") return g_print("%s", kHelpPackage), kOk;
    auto value = [&](const std::string& opt, std::string* out) {
      if (a == opt && i + 1 < args.size()) return *out = args[++i], true;
      if (a.starts_with(opt + "=")) return *out = a.substr(opt.size() + 1), true;
      return false;
    };
    if (value("--output", &output) || value("--maintainer", &maintainer)) continue;
    if (a == "--output" || a == "--maintainer") return usage_error("package", a + " needs a value");
    if (a == "--lint") {
      lint = true;
      continue;
    }
    if (a.starts_with("-")) return usage_error("package", "unknown option " + a);
    if (!dir.empty()) return usage_error("package", "more than one folder given");
    dir = a;
  }
  auto cfg = load("package", dir);
  if (!cfg) return kUsage;
  const ovalis::AppConfig& c = *cfg;
  if (maintainer.empty()) maintainer = default_maintainer(c);
  if (maintainer.find('<') == std::string::npos || maintainer.find('\n') != std::string::npos)
    return usage_error("package", "--maintainer: expected 'NAME <EMAIL>', got '" + maintainer + "'");
  if (output.empty()) output = c.dir + "/dist";
  if (!build_app("package", c)) return kFailed;

  std::string pkg = package_name(c.id);
  gchar* tmp = g_dir_make_tmp("ovalis-package-XXXXXX", nullptr);
  if (!tmp) return fail("package", "cannot make a temporary folder");
  std::string work = tmp;
  g_free(tmp);
  std::string err;
  auto cleanup = [&] { remove_tree(work); };

  // ---- the Debian tree -----------------------------------------------------
  std::string root = work + "/deb";
  std::string usr = root + "/usr";
  bool native = false;
  std::vector<std::string> programs;
  if (!copy_tree(c.dir, usr + "/lib/" + pkg, true, &native, &err, &programs))
    return cleanup(), fail("package", err);
  // Debug information stays with the developer, as Debian's own packages do.
  if (gchar* strip = g_find_program_in_path("strip")) {
    for (auto& p : programs)
      run_command("package", {strip, "--strip-unneeded", "--remove-section=.comment", "--remove-section=.note", p}, "");
    g_free(strip);
  }
  std::string launcher_sh = "#!/bin/sh\n# Starts " + c.name + " (" + c.id + ").\nexec /usr/bin/ovalis run /usr/lib/" +
                            pkg + " \"$@\"\n";
  write_file(usr + "/bin/" + pkg, launcher_sh, 0755);
  std::string tpl;
  if (!read_file(data_dir() + "/app.desktop.in", &tpl))
    return cleanup(), fail("package", "cannot read " + data_dir() + "/app.desktop.in");
  std::string entry = desktop_entry(c, tpl, "/usr/bin/" + pkg);
  write_file(usr + "/share/applications/" + c.id + ".desktop", entry, 0644);
  if (!render_icons(c, usr, &err)) return cleanup(), fail("package", err);

  std::string doc = usr + "/share/doc/" + pkg;
  std::string year = rfc2822_now().substr(12, 4);
  write_file(doc + "/copyright",
             "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
             "Upstream-Name: " + c.name + "\n\nFiles: *\nCopyright: " + year + " " + maintainer +
                 "\nLicense: custom\n All rights reserved by the copyright holder.\n",
             0644);
  std::string changelog = pkg + " (" + c.version + ") unstable; urgency=medium\n\n  * Version " + c.version +
                          ", packaged with ovalis package.\n\n -- " + maintainer + "  " + rfc2822_now() + "\n";
  write_file(doc + "/changelog", changelog, 0644);
  // Debian wants it compressed, without a time stamp in the gzip header.
  if (run_command("package", {"gzip", "-9n", doc + "/changelog"}, "") != 0)
    return cleanup(), fail("package", "gzip failed");

  guint64 bytes = 0;
  tree_size(usr, &bytes);
  std::string arch = native ? dpkg_arch() : "all";
  std::string summary = c.description.empty() ? c.name : c.description;
  std::string control = "Package: " + pkg + "\nVersion: " + c.version + "\nArchitecture: " + arch +
                        "\nMaintainer: " + maintainer + "\nInstalled-Size: " + std::to_string((bytes + 1023) / 1024) +
                        "\nDepends: " + runtime_depends(c, native) +
                        "\nSection: misc\nPriority: optional\nDescription: " + summary + "\n " + c.name +
                        " is a desktop application built on the ovalis runtime: its web user\n interface is shown by "
                        "launcher and driven by its own backend.\n";
  write_file(root + "/DEBIAN/control", control, 0644);
  std::string sums;
  md5sums(root, "", &sums);
  write_file(root + "/DEBIAN/md5sums", sums, 0644);

  g_mkdir_with_parents(output.c_str(), 0755);
  std::string deb = output + "/" + pkg + "_" + c.version + "_" + arch + ".deb";
  if (run_command("package", {"dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, deb}, "") != 0)
    return cleanup(), fail("package", "dpkg-deb failed");

  // ---- the relocatable tarball ---------------------------------------------
  std::string top = pkg + "-" + c.version;
  std::string tree = work + "/tar/" + top;
  programs.clear();
  if (!copy_tree(c.dir, tree + "/lib/" + pkg, true, &native, &err, &programs))
    return cleanup(), fail("package", err);
  if (gchar* strip = g_find_program_in_path("strip")) {
    for (auto& p : programs) run_command("package", {strip, "--strip-unneeded", p}, "");
    g_free(strip);
  }
  write_file(tree + "/bin/" + pkg,
             "#!/bin/sh\n# Starts " + c.name + " from wherever this folder is (needs ovalis and launcher).\n"
             "here=$(dirname \"$(readlink -f \"$0\")\")\nexec ovalis run \"$here/../lib/" + pkg + "\" \"$@\"\n",
             0755);
  if (!render_icons(c, tree, &err)) return cleanup(), fail("package", err);
  std::string tarball = output + "/" + top + ".tar.gz";
  gchar* abs_tar = g_canonicalize_filename(tarball.c_str(), nullptr);
  int st = run_command("package", {"tar", "--owner=0", "--group=0", "--numeric-owner", "--sort=name", "-czf",
                                   abs_tar, top}, work + "/tar");
  g_free(abs_tar);
  if (st != 0) return cleanup(), fail("package", "tar failed");
  cleanup();

  struct stat ds{}, ts{};
  stat(deb.c_str(), &ds);
  stat(tarball.c_str(), &ts);
  g_print("%s (%lld bytes)\n%s (%lld bytes)\n", deb.c_str(), (long long)ds.st_size, tarball.c_str(),
          (long long)ts.st_size);

  if (lint) {
    int r = run_command("package", {"lintian", "--fail-on", "error", deb}, "");
    if (r != 0) return fail("package", "lintian reported errors");
  }
  return kOk;
}

}  // namespace tool
