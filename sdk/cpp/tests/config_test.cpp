// ovalis.json: every bad file gives its one exact message (the cases are
// shared with the Python and JavaScript readers), and a good one turns into
// the launcher's command line and environment.
#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <clocale>
#include <map>
#include <string>

#include "ovalis/backend.h"
#include "ovalis/config.h"

#ifndef SDK_CONFORMANCE_DIR
#error "SDK_CONFORMANCE_DIR must name tests/conformance"
#endif

namespace {

using ovalis::Json;

struct AppDir {
  std::string path;
  AppDir() {
    gchar* d = g_dir_make_tmp("ovalis-cfg-XXXXXX", nullptr);
    path = d;
    g_free(d);
    g_mkdir(file("page").c_str(), 0700);
    g_file_set_contents(file("page/index.html").c_str(), "<p>hi</p>", -1, nullptr);
    g_file_set_contents(file("icon.svg").c_str(), "<svg/>", -1, nullptr);
  }
  ~AppDir() {
    for (const char* f : {"page/index.html", "icon.svg", "ovalis.json"}) g_unlink(file(f).c_str());
    g_rmdir(file("page").c_str());
    g_rmdir(path.c_str());
  }
  std::string file(const std::string& rel) const { return path + "/" + rel; }
};

TEST(AppConfig, SharedErrorCasesGiveTheirExactMessages) {
  gchar* text = nullptr;
  ASSERT_TRUE(g_file_get_contents(SDK_CONFORMANCE_DIR "/ovalis-json-errors.json", &text, nullptr, nullptr));
  auto doc = ovalis::json_parse(text);
  g_free(text);
  ASSERT_TRUE(doc && doc->get("cases"));
  // The icon the cases expect to be missing is icon.png; icon.svg exists.
  AppDir dir;
  std::string err;
  ASSERT_TRUE(ovalis::parse_app_config(ovalis::json_dump(*doc->get("valid")), "ovalis.json", dir.path, &err))
      << err;
  for (auto& c : doc->get("cases")->arr()) {
    std::string body = c.str_or("text");
    if (auto* b64 = c.get("text_base64")) {
      gsize n = 0;
      guchar* raw = g_base64_decode(b64->str().c_str(), &n);
      body.assign(reinterpret_cast<char*>(raw), n);
      g_free(raw);
    }
    err.clear();
    auto cfg = ovalis::parse_app_config(body, "ovalis.json", dir.path, &err);
    EXPECT_FALSE(cfg) << c.str_or("name");
    EXPECT_EQ(err, c.str_or("error")) << c.str_or("name");
  }
}

TEST(AppConfig, FullFileBecomesTheLauncherCommandAndEnvironment) {
  AppDir dir;
  const char* text = R"({
    "$schema": "/usr/share/ovalis/ovalis.schema.json",
    "id": "org.example.Hello", "name": "Hello", "version": "1.2.3~rc1",
    "icon": "icon.svg", "page": "page/index.html",
    "window": {"title": "Hi there", "width": 800, "height": 600,
               "chrome": {"frame": false, "controls": ["close", "minimize"], "menuBar": true},
               "activation": "accessory", "deferShow": true},
    "backend": {"command": ["python3", "backend/main.py"], "watch": ["backend", "lib"]},
    "api": {"origins": {"http://127.0.0.1:*": ["calls", "media.proxy"],
                        "https://cam.example": ["media.camera", "media.microphone"]},
            "media": ["camera", "microphone"]},
    "downloads": "ask", "popups": "window",
    "opens": {"mimeTypes": ["text/markdown"], "schemes": ["Hello"]},
    "automation": true
  })";
  g_file_set_contents(dir.file("ovalis.json").c_str(), text, -1, nullptr);
  std::string err;
  auto c = ovalis::load_app_config(dir.path, &err);
  ASSERT_TRUE(c) << err;
  EXPECT_EQ(c->file, dir.path + "/ovalis.json");
  EXPECT_EQ(c->schemes, std::vector<std::string>{"hello"});
  EXPECT_EQ(c->backend.watch.size(), 2u);

  g_setenv("OVALIS_LAUNCHER", "/opt/x/launcher", TRUE);
  g_setenv("XDG_RUNTIME_DIR", "/run/user/7", TRUE);
  auto o = ovalis::launch_options(*c);
  g_unsetenv("OVALIS_LAUNCHER");
  EXPECT_EQ(o.launcher, "/opt/x/launcher");
  EXPECT_EQ(o.page, c->dir + "/page/index.html");
  EXPECT_EQ(o.title, "Hi there");
  EXPECT_EQ(o.width, 800);
  EXPECT_EQ(o.version, "1.2.3~rc1");
  EXPECT_EQ(c->socket_path(), "/run/user/7/org.example.Hello.sock");
  std::map<std::string, std::string> env(o.env.begin(), o.env.end());
  EXPECT_EQ(env["OVALIS_APP_ID"], "org.example.Hello");
  EXPECT_EQ(env["OVALIS_ICON"], c->dir + "/icon.svg");
  EXPECT_EQ(env["OVALIS_CHROME"], "0\tclose,minimize\t\t\t\t\t1");
  EXPECT_EQ(env["OVALIS_ACTIVATION"], "accessory");
  EXPECT_EQ(env["OVALIS_DEFER_SHOW"], "1");
  EXPECT_EQ(env["OVALIS_DOWNLOADS"], "ask");
  EXPECT_EQ(env["OVALIS_POPUPS"], "window");
  EXPECT_EQ(env["OVALIS_AUTOMATION"], "1");
  EXPECT_EQ(env["OVALIS_MEDIA"], "camera,microphone");
  EXPECT_EQ(env["OVALIS_MEDIA_ORIGINS"],
            "proxy http://127.0.0.1:*\ncamera https://cam.example\nmicrophone https://cam.example");

  // Calls: the application's own pages and "calls" grants only.
  EXPECT_TRUE(c->calls_allowed("file://"));
  EXPECT_TRUE(c->calls_allowed("http://127.0.0.1:5173"));
  EXPECT_FALSE(c->calls_allowed("https://cam.example"));
  EXPECT_FALSE(c->calls_allowed("http://127.0.0.2:5173"));
  c->page = "https://app.example:443/index.html";
  EXPECT_TRUE(c->calls_allowed("https://app.example"));
  EXPECT_FALSE(c->calls_allowed("https://app.example:8443"));
}

TEST(AppConfig, MinimalFileTakesTheDocumentedDefaults) {
  AppDir dir;
  g_file_set_contents(dir.file("ovalis.json").c_str(),
                      R"({"id":"a.b","name":"N","version":"1","page":"page/index.html",
                          "backend":{"command":["./run"]}})",
                      -1, nullptr);
  std::string err;
  auto c = ovalis::load_app_config(dir.file("ovalis.json"), &err);
  ASSERT_TRUE(c) << err;
  auto o = ovalis::launch_options(*c);
  EXPECT_EQ(o.title, "N");
  EXPECT_EQ(o.width, 960);
  EXPECT_EQ(o.height, 640);
  EXPECT_EQ(o.env.size(), 1u);  // OVALIS_APP_ID alone
  EXPECT_EQ(c->backend.watch, std::vector<std::string>{"backend"});

  EXPECT_FALSE(ovalis::load_app_config(dir.file("nothing"), &err));
  EXPECT_EQ(err, dir.file("nothing") + ": cannot read: No such file or directory");
}

TEST(AppConfig, NumbersReadTheSameUnderACommaLocale) {
  // A backend may set the user's locale; JSON numbers never follow it.
  const char* old = setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale";
  auto v = ovalis::json_parse("[1.5, 2e-1]");
  setlocale(LC_NUMERIC, saved.c_str());
  ASSERT_TRUE(v);
  EXPECT_EQ(v->arr()[0].num(), 1.5);
  EXPECT_EQ(v->arr()[1].num(), 0.2);
}

TEST(AppConfig, OriginGlob) {
  EXPECT_TRUE(ovalis::origin_glob("*", ""));
  EXPECT_TRUE(ovalis::origin_glob("http://127.0.0.1:*", "http://127.0.0.1:5173"));
  EXPECT_FALSE(ovalis::origin_glob("http://127.0.0.1:*", "http://127.0.0.10"));
  EXPECT_TRUE(ovalis::origin_glob("https://*.example", "https://a.b.example"));
  EXPECT_FALSE(ovalis::origin_glob("https://*.example", "https://a.example.evil"));
  // Many stars against a long text stay fast.
  EXPECT_FALSE(ovalis::origin_glob("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

}  // namespace

// Page calls reach handlers only from the application's own pages and the
// origins it trusts; trusting everything takes one explicit call.
TEST(SdkOrigins, OnlyTrustedOriginsMayCall) {
  ovalis::Backend b;
  EXPECT_TRUE(b.origin_trusted("file://"));
  EXPECT_FALSE(b.origin_trusted("null"));
  EXPECT_FALSE(b.origin_trusted("http://127.0.0.1:8080"));
  EXPECT_FALSE(b.origin_trusted(""));
  b.trust_origin("http://127.0.0.1:*");
  EXPECT_TRUE(b.origin_trusted("http://127.0.0.1:8080"));
  EXPECT_FALSE(b.origin_trusted("http://127.0.0.1.evil.example"));
  EXPECT_FALSE(b.origin_trusted("https://127.0.0.1:8080"));
  b.trust_all_origins();
  EXPECT_TRUE(b.origin_trusted("https://anything.example"));
}
