// Bytes between page and backend as files: multi-MiB uploads and downloads
// arrive whole and in order, offers are served once, files are cleaned up,
// and nothing but the application's own document can use the scheme.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "harness.h"

using namespace e2e;

namespace {

// Byte i of the test pattern; the page computes the same.
unsigned char pat(size_t i) { return static_cast<unsigned char>((i * 7 + i / 251) & 0xff); }
const char* kPagePattern = "(i) => ((i * 7 + Math.floor(i / 251)) & 0xff)";

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Runs page script that settles a promise, answering the calls it makes with
// `answer` (given the call's id and payload), and returns the probe result.
std::optional<std::string> run_page(Backend& b, const std::string& expr,
                                    const std::function<void(const CallLine&)>& answer) {
  static int tag = 0;
  std::string t = "bytes" + std::to_string(++tag);
  std::string js = "(async function(){try{return {v: await (" + expr +
                   ")}}catch(e){return {err: String(e && e.message || e)}}})().then(function(r){"
                   "ovalis.api.call('" + t + "', r)})";
  b.send("EVAL " + wire_escape(js));
  for (;;) {
    auto line = b.expect_prefix("CALL ", 30000);
    if (!line) return std::nullopt;
    auto c = parse_call(*line);
    if (!c) return std::nullopt;
    if (call_method(*c) == t) {
      b.send("RET " + c->id + " 0 {}");
      size_t at = c->payload.find("\"params\":");
      return c->payload.substr(at + 9, c->payload.size() - at - 10);
    }
    answer(*c);
  }
}

// {"id":"…","size":N,"path":"…"} of a BLOB line.
struct Announced {
  std::string id, path;
  long size = -1;
};
Announced announced(const std::string& line) {
  Announced a;
  a.id = json_string_value(line.substr(line.find("\"id\":") + 5)).value_or("");
  a.path = json_string_value(line.substr(line.find("\"path\":") + 7)).value_or("");
  a.size = std::strtol(line.c_str() + line.find("\"size\":") + 7, nullptr, 10);
  return a;
}

// The web-process extension moves the bytes; without it (an empty
// extension directory) the "ovalis-blob" scheme does, with the same results.
class Bytes : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    Options o;
    // An upload from the page's first moments, before launcher knows the
    // document's key: a typed Blob, which the scheme cannot take as it is.
    o.env = {{"OVALIS_INJECT",
              "window.__early = ovalis.api.sendBytes('t.early', new Blob([new Uint8Array([1, 2, 3])],"
              " {type: 'image/png'})).catch((e) => 'ERR ' + e.message);"}};
    if (!GetParam()) o.env.push_back({"OVALIS_WEB_EXTENSIONS_DIR", ""});
    ASSERT_TRUE(b.start(o));
    ASSERT_TRUE(serve_load_calls(b));
    ASSERT_TRUE(b.wait_page_ready());
    EXPECT_EQ(b.page_eval("typeof window.__ovalisBytes"), GetParam() ? "\"object\"" : "\"undefined\"");
    auto early = b.expect([](const std::string& l) { return l.find("t.early") != std::string::npos; }, 10000);
    ASSERT_TRUE(early) << b.stderr_text();
    auto ann = b.expect_prefix("BLOB {", 0);
    ASSERT_TRUE(ann);
    Announced a = announced(*ann);
    EXPECT_EQ(a.size, 3);
    EXPECT_EQ(slurp(a.path), std::string("\x01\x02\x03"));
    unlink(a.path.c_str());
    b.send("RET " + parse_call(*early)->id + " 0 {\"early\":3}");
    EXPECT_EQ(b.page_eval("window.__early"), "{\"early\":3}");
  }
  Backend b;
};

INSTANTIATE_TEST_SUITE_P(Paths, Bytes, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Extension" : "Scheme"; });

TEST_P(Bytes, BothWaysWholeAndCleanedUp) {
  const size_t up_n = 6 * 1024 * 1024 + 13, down_n = 5 * 1024 * 1024 + 7;
  // Upload: the BLOB line comes first, then the call naming it.
  Announced up;
  std::string down_path = b.dir() + "/offer.bin";
  std::string offered(down_n, '\0');
  for (size_t i = 0; i < down_n; ++i) offered[i] = static_cast<char>(pat(i));
  auto r = run_page(
      b,
      "(async () => { const p = " + std::string(kPagePattern) +
          "; const a = new Uint8Array(" + std::to_string(up_n) +
          "); for (let i = 0; i < a.length; i++) a[i] = p(i);"
          " const sent = await ovalis.api.sendBytes('t.up', a, {tag: 'x', bytes: 'overwritten'});"
          " const got = await ovalis.api.fetchBytes('t.down', {});"
          " let bad = -1; for (let i = 0; i < got.length; i++) if (got[i] !== p(i)) { bad = i; break; }"
          " return {sent, n: got.length, bad, isU8: got instanceof Uint8Array}; })()",
      [&](const CallLine& c) {
        if (call_method(c) == "t.up") {
          auto line = b.expect_prefix("BLOB {", 0);
          ASSERT_TRUE(line) << "the call came before its BLOB line";
          up = announced(*line);
          EXPECT_NE(c.payload.find("\"tag\":\"x\""), std::string::npos);
          EXPECT_NE(c.payload.find("\"bytes\":{\"$blob\":\"" + up.id + "\",\"size\":" +
                                   std::to_string(up_n) + "}"),
                    std::string::npos)
              << c.payload;
          std::string got = slurp(up.path);
          size_t bad = got.size();
          for (size_t i = 0; i < got.size(); ++i)
            if (static_cast<unsigned char>(got[i]) != pat(i)) {
              bad = i;
              break;
            }
          EXPECT_EQ(got.size(), up_n);
          EXPECT_EQ(bad, got.size());
          struct stat st {};
          EXPECT_EQ(stat(up.path.c_str(), &st), 0);
          EXPECT_EQ(st.st_mode & 0777, 0600u);
          EXPECT_EQ(stat(up.path.substr(0, up.path.rfind('/')).c_str(), &st), 0);
          EXPECT_EQ(st.st_mode & 0777, 0700u);
          b.send("RET " + c.id + " 0 {\"ok\":" + std::to_string(got.size()) + "}");
        } else if (call_method(c) == "t.down") {
          std::ofstream(down_path, std::ios::binary) << offered;
          b.send("BLOB d0wn-1_A move " + wire_escape(down_path));
          b.send("RET " + c.id + " 0 {\"$blob\":\"d0wn-1_A\",\"size\":" + std::to_string(down_n) + "}");
        } else {
          b.send("RET " + c.id + " 0 {}");
        }
      });
  auto blob = b.expect_prefix("BLOB ", 1);
  EXPECT_FALSE(blob) << "a second BLOB line: " << *blob;
  ASSERT_TRUE(r) << b.stderr_text();
  EXPECT_NE(r->find("\"sent\":{\"ok\":" + std::to_string(up_n) + "}"), std::string::npos) << *r;
  EXPECT_NE(r->find("\"n\":" + std::to_string(down_n) + ",\"bad\":-1,\"isU8\":true"), std::string::npos)
      << *r;
  EXPECT_FALSE(exists(down_path)) << "a moved offer stays on disk";

  // An offer is served once; a kept file stays the backend's.
  std::string kept = b.dir() + "/kept file.bin";
  std::ofstream(kept, std::ios::binary) << "abc";
  r = run_page(b,
               "(async () => { const a = await ovalis.api.fetchBytes('t.keep');"
               " let second; try { await fetch('ovalis-blob://b/k33p?k=' + window.__OVALIS_PKEY); second = (await fetch('ovalis-blob://b/k33p?k=' + window.__OVALIS_PKEY)).status; } catch (e) { second = 'threw'; }"
               " let notBytes; try { await ovalis.api.fetchBytes('t.plain'); } catch (e) { notBytes = e.name; }"
               " let gone; try { await ovalis.api.fetchBytes('t.gone'); } catch (e) { gone = e.message; }"
               " return {text: new TextDecoder().decode(a), second, notBytes, gone}; })()",
               [&](const CallLine& c) {
                 std::string m = call_method(c);
                 if (m == "t.keep") {
                   b.send("BLOB k33p keep " + wire_escape(kept));
                   b.send("BLOB k33p keep " + wire_escape(kept));  // an offer again replaces it
                   b.send("RET " + c.id + " 0 {\"$blob\":\"k33p\"}");
                 } else if (m == "t.plain") {
                   b.send("RET " + c.id + " 0 {\"x\":1}");
                 } else if (m == "t.gone") {
                   b.send("BLOB bad/id move /tmp/x");
                   b.send("BLOB ok keep relative/path");
                   b.send("BLOB ok keep " + wire_escape(b.dir()));  // a directory
                   b.send("RET " + c.id + " 0 {\"$blob\":\"ok\"}");
                 } else {
                   b.send("RET " + c.id + " 0 {}");
                 }
               });
  ASSERT_TRUE(r);
  EXPECT_NE(r->find("\"text\":\"abc\""), std::string::npos) << *r;
  EXPECT_NE(r->find("\"second\":404"), std::string::npos) << *r;
  EXPECT_NE(r->find("\"notBytes\":\"TypeError\""), std::string::npos) << *r;
  EXPECT_NE(r->find("no such bytes"), std::string::npos) << *r;
  EXPECT_TRUE(exists(kept));
  std::string err = b.stderr_text();
  EXPECT_NE(err.find("BLOB: bad id, mode or path"), std::string::npos) << err;
  EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;

  // Quitting removes launcher's directory with the upload nobody read.
  ASSERT_TRUE(exists(up.path));
  b.send("QUIT");
  EXPECT_EQ(b.wait_exit(10000), 0);
  EXPECT_FALSE(exists(up.path.substr(0, up.path.rfind('/'))));
}

// Only a document with the bridge may use the scheme: no key, a made-up
// key, or a frame of another origin all get nothing, and no BLOB line.
TEST_P(Bytes, OnlyTheOwnDocument) {
  auto r = run_page(
      b,
      "(async () => { const tryUp = async (url) => { try { const res = await fetch(url, {method: 'POST', body: new Uint8Array(8)}); return res.status; } catch (e) { return 'threw'; } };"
      " const nokey = await tryUp('ovalis-blob://b/');"
      " const forged = await tryUp('ovalis-blob://b/?k=' + '0'.repeat(32));"
      " const f = document.createElement('iframe');"
      " f.srcdoc = '<script>fetch(\"ovalis-blob://b/\", {method: \"POST\", body: \"x\"}).then(r => parent.postMessage(r.status, \"*\"), () => parent.postMessage(\"threw\", \"*\"))<\\/script>';"
      " const framed = new Promise((res) => addEventListener('message', (e) => res(e.data), {once: true}));"
      " document.body.appendChild(f);"
      " const nb = window.__ovalisBytes; const native = (fn, a, k) => nb ? new Promise((res) => fn.call(nb, a, k, (e) => res(e))) : 'none';"
      " const nativeGet = await native(nb && nb.get, 'k33p', '0'.repeat(32));"
      " const nativePut = await native(nb && nb.put, new Uint8Array(4), 'nokey');"
      " return {nokey, forged, framed: await framed, frameNative: typeof f.contentWindow.__ovalisBytes, nativeGet, nativePut}; })()",
      [&](const CallLine& c) { b.send("RET " + c.id + " 0 {}"); });
  ASSERT_TRUE(r);
  EXPECT_NE(r->find("\"nokey\":403"), std::string::npos) << *r;
  EXPECT_NE(r->find("\"forged\":403"), std::string::npos) << *r;
  EXPECT_EQ(r->find("\"framed\":200"), std::string::npos) << *r;
  EXPECT_NE(r->find("\"frameNative\":\"undefined\""), std::string::npos) << *r;
  if (GetParam()) {
    EXPECT_NE(r->find("\"nativeGet\":\"only the application's own pages may move bytes\""),
              std::string::npos) << *r;
    EXPECT_NE(r->find("\"nativePut\":\"only the application's own pages may move bytes\""),
              std::string::npos) << *r;
  }
  EXPECT_FALSE(b.expect_prefix("BLOB ", 200));
}

}  // namespace
