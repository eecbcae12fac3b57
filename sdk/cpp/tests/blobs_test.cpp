// Bytes through the backend library, against a stand-in launcher that
// sends fixed lines and logs what it gets (no display needed): announced
// uploads reach handlers as Bytes and their files go, bad references are
// answered without the handler, and a Bytes answer is offered in a file
// named by a BLOB line that comes before its RET.
#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "blobs.h"
#include "ovalis/backend.h"

#ifndef SDK_FAKE_LAUNCHER
#error "SDK_FAKE_LAUNCHER must name the stand-in launcher script"
#endif

namespace {

using ovalis::Json;

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) out.push_back(l);
  return out;
}

struct TempDir {
  std::string path;
  TempDir() {
    gchar* d = g_dir_make_tmp("ovalis-blob-test-XXXXXX", nullptr);
    path = d;
    g_free(d);
  }
  ~TempDir() {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) {}
  }
  std::string file(const std::string& name, const std::string& data) const {
    std::string p = path + "/" + name;
    g_file_set_contents(p.c_str(), data.data(), gssize(data.size()), nullptr);
    return p;
  }
};

std::string call(int seq, const std::string& method, const Json& params, const char* origin = "file://") {
  Json payload = ovalis::obj({{"method", method}, {"params", params}});
  return "CALL main:" + std::to_string(seq) + " " +
         ovalis::json_dump(ovalis::arr({ovalis::json_dump(payload), origin}));
}

std::string announce(const std::string& id, const std::string& path, size_t size) {
  return "BLOB " + ovalis::json_dump(ovalis::obj({{"id", id}, {"size", double(size)}, {"path", path}}));
}

Json ref(const std::string& id, size_t size) { return ovalis::obj({{"$blob", id}, {"size", double(size)}}); }

TEST(SdkBytes, UploadsReachHandlersAndAnswersAreOffered) {
  TempDir tmp;
  std::string binary("a\0b\n\xff", 5);
  std::string up1 = tmp.file("u1", binary), up2 = tmp.file("u2", "xyz"), up3 = tmp.file("u3", "q"),
              up4 = tmp.file("u4", "short"), kept = tmp.file("kept", "kept bytes");
  std::vector<std::string> send{
      announce("u1", up1, binary.size()),
      call(1, "sum", ovalis::obj({{"name", "n"}, {"bytes", ref("u1", 5)}, {"again", ovalis::arr({ref("u1", 5)})}})),
      call(2, "sum", ovalis::obj({{"deep", ovalis::arr({ref("never", 1)})}})),
      announce("u2", up2, 3),
      call(3, "no.such.method", ovalis::obj({{"bytes", ref("u2", 3)}})),
      announce("u3", up3, 1),
      call(4, "sum", ovalis::obj({{"bytes", ref("u3", 1)}}), "https://evil.example"),
      announce("u4", up4, 999),  // the file is shorter than announced
      call(5, "sum", ovalis::obj({{"bytes", ref("u4", 999)}})),
      call(6, "make", ovalis::obj({{"n", 300000}})),
      call(7, "sum", ovalis::obj({{"bytes", ref("u1", 5)}})),  // used up by call 1
      // Not a reference: another member besides the two.
      call(8, "echo", ovalis::obj({{"$blob", "u9"}, {"size", 1}, {"x", 1}})),
      // A file the backend has is offered where it is.
      call(9, "file", ovalis::obj({{"path", kept}})),
      call(10, "file", ovalis::obj({{"path", "/nonexistent/x"}})),
  };
  std::string log = tmp.path + "/log";
  std::string exe = tmp.path + "/launcher";
  std::string script = "#!/bin/sh\nexec python3 '" SDK_FAKE_LAUNCHER "' \"$@\"\n";
  g_file_set_contents(exe.c_str(), script.c_str(), -1, nullptr);
  g_chmod(exe.c_str(), 0700);
  ovalis::JsonArray items;
  for (auto& s : send) items.emplace_back(s);

  ovalis::Backend b;
  int runs = 0;
  b.handle("sum", [&](const ovalis::Call& c) {
    ++runs;
    const ovalis::Bytes* bytes = c.bytes("bytes");
    ASSERT_TRUE(bytes);
    const Json* again = c.param("again");
    c.resolve(ovalis::obj({{"length", double(bytes->size())},
                           {"same", std::string(bytes->begin(), bytes->end()) == binary},
                           {"again", again && again->arr()[0].is_bytes() && again->arr()[0].bytes() == *bytes},
                           {"name", c.str("name")}}));
  });
  b.handle("make", [](const ovalis::Call& c) {
    ovalis::Bytes data(size_t(c.num("n")));
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i % 251);
    c.resolve(Json(std::move(data)));
  });
  b.handle("echo", [](const ovalis::Call& c) { c.resolve(c.params); });
  b.handle("file", [](const ovalis::Call& c) { c.resolve_file(c.str("path")); });
  ovalis::LaunchOptions o;
  o.launcher = exe;
  o.page = "/nonexistent.html";
  o.env = {{"FAKE_SEND", ovalis::json_dump(Json(items))}, {"FAKE_LOG", log}};
  std::string err;
  ASSERT_TRUE(b.start(o, &err)) << err;
  gint64 end = g_get_monotonic_time() + 20 * G_USEC_PER_SEC;
  while (lines_of(slurp(log)).size() < 12 && g_get_monotonic_time() < end) g_main_context_iteration(nullptr, FALSE), g_usleep(2000);
  auto got = lines_of(slurp(log));
  ASSERT_EQ(got.size(), 12u) << slurp(log);
  EXPECT_EQ(got[0], R"(RET main:1 0 {"length":5,"same":true,"again":true,"name":"n"})");
  EXPECT_EQ(got[1], R"(RET main:2 1 {"message":"no such blob: never"})");
  EXPECT_EQ(got[2], R"(RET main:3 1 {"message":"unknown method no.such.method"})");
  EXPECT_EQ(got[3], R"(RET main:4 1 {"message":"origin https://evil.example may not call the backend"})");
  EXPECT_EQ(got[4], R"(RET main:5 1 {"message":"no such blob: u4"})");
  // The offer: a BLOB line naming a file with the bytes, then the answer.
  ASSERT_EQ(got[5].rfind("BLOB ", 0), 0u) << got[5];
  std::string id = got[5].substr(5, 32);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(got[5].substr(37, 6), " move ");
  std::string path = got[5].substr(43);
  EXPECT_EQ(got[6], "RET main:6 0 {\"$blob\":\"" + id + "\",\"size\":300000}");
  std::string data = slurp(path);
  ASSERT_EQ(data.size(), 300000u);
  EXPECT_EQ(uint8_t(data[299999]), 299999 % 251);
  GStatBuf st {};
  gchar* dir = g_path_get_dirname(path.c_str());
  ASSERT_EQ(g_stat(dir, &st), 0);
  g_free(dir);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(got[7], R"(RET main:7 1 {"message":"no such blob: u1"})");
  EXPECT_EQ(got[8], R"(RET main:8 0 {"$blob":"u9","size":1,"x":1})");
  ASSERT_EQ(got[9].rfind("BLOB ", 0), 0u) << got[9];
  std::string kept_id = got[9].substr(5, 32);
  EXPECT_EQ(got[9].substr(37), " keep " + kept);
  EXPECT_EQ(got[10], "RET main:9 0 {\"$blob\":\"" + kept_id + "\",\"size\":10}");
  EXPECT_EQ(got[11], R"(RET main:10 1 {"message":"cannot offer /nonexistent/x: No such file or directory"})");
  EXPECT_TRUE(g_file_test(kept.c_str(), G_FILE_TEST_EXISTS));
  EXPECT_EQ(runs, 1);
  // Every upload a call named is gone, read or not.
  for (auto& p : {up1, up2, up3, up4}) EXPECT_FALSE(g_file_test(p.c_str(), G_FILE_TEST_EXISTS)) << p;

  b.quit();
  EXPECT_EQ(b.run(), 0);
  // The backend's own folder of offers goes with the launcher.
  EXPECT_FALSE(g_file_test(path.c_str(), G_FILE_TEST_EXISTS));
}

TEST(SdkBytes, TheInboxDropsTheOldestUploadBeyondItsLimit) {
  TempDir tmp;
  ovalis::blob::Inbox in(2);
  std::string a = tmp.file("a", "1"), b = tmp.file("b", "2"), c = tmp.file("c", "3");
  in.announce(announce("a", a, 1).substr(5));
  in.announce(announce("b", b, 1).substr(5));
  in.announce(R"({"id":"x","size":1,"path":"relative/path"})");  // ignored
  in.announce(announce("c", c, 1).substr(5));
  EXPECT_EQ(in.size(), 2u);
  EXPECT_FALSE(g_file_test(a.c_str(), G_FILE_TEST_EXISTS));
  Json params = ref("b", 1);
  std::string bad;
  ASSERT_TRUE(in.resolve(params, &bad));
  ASSERT_TRUE(params.is_bytes());
  EXPECT_EQ(params.bytes(), ovalis::Bytes{'2'});
  in.clear();
  EXPECT_FALSE(g_file_test(c.c_str(), G_FILE_TEST_EXISTS));
  // Bytes anywhere else in a JSON text are Base64.
  EXPECT_EQ(ovalis::json_dump(ovalis::arr({Json(ovalis::Bytes{'h', 'i'})})), R"(["aGk="])");
}

}  // namespace
