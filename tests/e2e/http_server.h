// A small loopback HTTP/1.1 server for tests: one thread per connection,
// routes by path, and bodies written as they are produced, so a test can
// serve gigabytes without holding them.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

struct HttpRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string path;    // without the query
  std::map<std::string, std::string> headers;  // names lower-cased
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // When set, the body is this many bytes produced by fill (offset, buffer,
  // length) instead of `body`.
  long long stream_length = -1;
  std::function<void(long long, char*, size_t)> fill;
  // Honour a single "Range: bytes=a-b" with 206 and Content-Range.
  bool ranges = false;
  // No Content-Length: `fill` produces bytes until the client goes away.
  bool endless = false;
};

class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;
  explicit HttpServer(Handler h);
  ~HttpServer();
  int port() const { return port_; }
  std::string url(const std::string& path) const;
  // Requests seen so far, oldest first.
  std::vector<HttpRequest> requests();

 private:
  void serve(int fd);
  Handler handler_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mu_;
  std::vector<HttpRequest> seen_;
  std::vector<std::thread> workers_;
};

// A 16-bit mono PCM WAV of a sine tone.
std::string wav_tone(int sample_rate, double seconds, double freq, double amplitude);

}  // namespace e2e
