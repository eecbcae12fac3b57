#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace e2e {

namespace {

bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

const char* reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 416: return "Range Not Satisfiable";
    case 404: return "Not Found";
    case 302: return "Found";
    default: return "Status";
  }
}

}  // namespace

HttpServer::HttpServer(Handler h) : handler_(std::move(h)) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listen_fd_, 64);
  socklen_t len = sizeof a;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lk(mu_);
      workers_.emplace_back([this, fd] { serve(fd); });
    }
  });
}

HttpServer::~HttpServer() {
  stop_ = true;
  acceptor_.join();
  close(listen_fd_);
  std::vector<std::thread> ws;
  {
    std::lock_guard<std::mutex> lk(mu_);
    ws.swap(workers_);
  }
  for (auto& t : ws) t.join();
}

std::string HttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HttpRequest> HttpServer::requests() {
  std::lock_guard<std::mutex> lk(mu_);
  return seen_;
}

void HttpServer::serve(int fd) {
  std::string buf;
  char tmp[4096];
  for (;;) {
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (stop_ || poll(&p, 1, 200) < 0) goto done;
      if (!(p.revents & (POLLIN | POLLHUP))) continue;
      ssize_t r = recv(fd, tmp, sizeof tmp, 0);
      if (r <= 0) goto done;
      buf.append(tmp, static_cast<size_t>(r));
    }
    {
      HttpRequest req;
      std::string head = buf.substr(0, end);
      buf.erase(0, end + 4);
      size_t eol = head.find("\r\n");
      std::string first = head.substr(0, eol);
      size_t s1 = first.find(' '), s2 = first.find(' ', s1 + 1);
      req.method = first.substr(0, s1);
      req.target = first.substr(s1 + 1, s2 - s1 - 1);
      req.path = req.target.substr(0, req.target.find('?'));
      size_t pos = eol == std::string::npos ? head.size() : eol + 2;
      while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos) e = head.size();
        std::string line = head.substr(pos, e - pos);
        size_t c = line.find(':');
        if (c != std::string::npos) {
          std::string k = line.substr(0, c);
          for (char& ch : k) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
          size_t v = line.find_first_not_of(' ', c + 1);
          req.headers[k] = v == std::string::npos ? "" : line.substr(v);
        }
        pos = e + 2;
      }
      {
        std::lock_guard<std::mutex> lk(mu_);
        seen_.push_back(req);
      }
      HttpResponse resp = handler_(req);
      long long len = resp.fill ? resp.stream_length : static_cast<long long>(resp.body.size());
      long long from = 0;
      std::string extra;
      if (resp.ranges && !resp.endless) {
        extra = "Accept-Ranges: bytes\r\n";
        auto rg = req.headers.find("range");
        long long a = -1, b = -1;
        if (rg != req.headers.end() && std::sscanf(rg->second.c_str(), "bytes=%lld-%lld", &a, &b) >= 1 &&
            a >= 0) {
          if (a >= len) {
            resp.status = 416;
            extra += "Content-Range: bytes */" + std::to_string(len) + "\r\n";
            len = 0;
          } else {
            if (b < a || b >= len) b = len - 1;
            resp.status = 206;
            extra += "Content-Range: bytes " + std::to_string(a) + "-" + std::to_string(b) + "/" +
                     std::to_string(len) + "\r\n";
            from = a;
            len = b + 1;
          }
        }
      }
      std::string out = "HTTP/1.1 " + std::to_string(resp.status) + " " + reason(resp.status) + "\r\n";
      if (resp.endless) out += "Connection: close\r\n";
      else out += "Content-Length: " + std::to_string(len - from) + "\r\n";
      out += extra;
      for (auto& [k, v] : resp.headers) out += k + ": " + v + "\r\n";
      out += "\r\n";
      if (!write_all(fd, out.data(), out.size())) goto done;
      if (req.method == "HEAD") continue;
      if (!resp.fill) {
        if (!write_all(fd, resp.body.data() + from, static_cast<size_t>(len - from))) goto done;
        continue;
      }
      if (resp.endless) len = std::numeric_limits<long long>::max();
      std::vector<char> chunk(resp.endless ? 16 * 1024 : 256 * 1024);
      for (long long off = from; off < len;) {
        if (stop_) goto done;
        size_t n = static_cast<size_t>(std::min<long long>(chunk.size(), len - off));
        resp.fill(off, chunk.data(), n);
        if (!write_all(fd, chunk.data(), n)) goto done;
        off += static_cast<long long>(n);
      }
      if (resp.endless) goto done;
    }
  }
done:
  close(fd);
}

std::string wav_tone(int rate, double seconds, double freq, double amp) {
  int n = static_cast<int>(rate * seconds);
  std::string w;
  auto u32 = [&](uint32_t v) { w.append(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { w.append(reinterpret_cast<const char*>(&v), 2); };
  w += "RIFF";
  u32(36 + n * 2);
  w += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(1);
  u32(rate);
  u32(rate * 2);
  u16(2);
  u16(16);
  w += "data";
  u32(n * 2);
  for (int i = 0; i < n; ++i) {
    auto s = static_cast<int16_t>(std::lround(amp * 32767 * std::sin(2 * M_PI * freq * i / rate)));
    u16(static_cast<uint16_t>(s));
  }
  return w;
}

}  // namespace e2e
