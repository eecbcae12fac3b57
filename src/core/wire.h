// The wire link to the backend: line framing, field escaping, the JSON text
// helpers every feature uses, the writer any thread may call, and the queue
// that hands work to the main loop.
#pragma once

#include <gio/gio.h>

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// ---- pure text helpers -------------------------------------------------

// Backslash escapes of a field: \n \t \r, and "\x" for any other x. A lone
// trailing backslash stays.
std::string wire_unescape(std::string_view s);

// Splits at every tab; N tabs always give N + 1 fields. Does not unescape.
std::vector<std::string> split_tabs(std::string_view s);

// The field at index i, or "" past the end.
std::string tab_field(const std::vector<std::string>& fields, size_t i);

// A complete, quoted JSON string literal. Invalid UTF-8 is made valid first.
std::string json_escape(std::string_view s);

// Appends json_escape(s) to out without a temporary.
void json_escape_to(std::string& out, std::string_view s);

// Where the JSON value that starts at pos (after white space) ends, or npos
// when the text there is not one complete, strictly valid JSON value.
size_t json_value_end(std::string_view s, size_t pos = 0);

// First textual match of "key": followed by a string; "" when absent.
std::string json_find_str(std::string_view json, std::string_view key);

// Number after the first textual match of "key":; 0 when absent or not a number.
double json_find_num(std::string_view json, std::string_view key);

// Decimal numbers on the wire, in JSON and in tool arguments always use a
// point. The toolkit sets the user's locale at start, after which the C
// library's strtod and printf would read and write a decimal comma in many
// of them; these never do.
// The number at the start of s (after white space) as strtod reads it; 0
// when there is none.
double ascii_num(std::string_view s);
// v as printf's "%.<digits>g" writes it in the C locale.
std::string ascii_num_text(double v, int digits = 6);

// Cuts a byte stream into lines. Lines end at '\n'; '\r' is kept; empty
// lines are dropped. Scans every byte once, so a huge line costs linear time.
class LineFramer {
 public:
  template <class F>
  void feed(const char* data, size_t n, F&& on_line) {
    size_t scan = buf_.size();
    buf_.append(data, n);
    size_t start = 0;
    for (;;) {
      const void* nl = memchr_(buf_.data() + scan, buf_.size() - scan);
      if (!nl) break;
      size_t end = static_cast<const char*>(nl) - buf_.data();
      if (end > start) on_line(std::string(buf_, start, end - start));
      start = end + 1;
      scan = start;
    }
    if (start > 0) buf_.erase(0, start);
  }
  const std::string& pending() const { return buf_; }

 private:
  static const void* memchr_(const char* p, size_t n);
  std::string buf_;
};

// ---- I/O ----------------------------------------------------------------

extern int g_sock;
extern std::mutex g_write_mutex;

// Writes one line and its terminator, whole, under g_write_mutex. A line
// holding a raw line break is never sent.
void pipe_write_line(std::string_view line);

// Sends lines collected while the main loop handled a batch of backend lines.
// Anything that blocks the main loop calls it first, so answers already made
// never wait behind it.
void wire_flush();

// Holds every outgoing line back until wire_release sends `first` ahead of
// them, so a line that must lead the stream can be worked out asynchronously
// while the page loads. Without a hold, wire_release just writes the line.
void wire_hold();
void wire_release(std::string_view first);

// Queues fn to run once on the main loop. Callables queued from one thread
// run in the order they were queued, also while a handler runs a nested loop.
void ui_dispatch(std::function<void()> fn);

// Like pipe_write_line, for lines made on the main thread outside a batch
// of backend lines (page calls): written when this turn of the main loop
// ends, before it waits again, so lines made together go out together.
void wire_defer_line(std::string_view line);

// Whether the main loop is working through a batch of backend lines, and a
// function run when such a batch ends (before its answers are sent).
bool wire_batching();
void wire_set_batch_end(void (*fn)());

// Reads the socket on the main loop from now on, hands each line to
// on_line, and asks the program to quit at end of stream.
using LineHandler = void (*)(const std::string& line);
void wire_start_reading(LineHandler on_line);

// Connects to a Unix-domain stream socket. -1, with *error set, when the
// path does not fit a socket address (cut short, it would reach whatever
// socket lives at the shorter path), when connecting fails, or when the
// peer runs as another user.
int unix_connect(const char* path, std::string* error);

// Appends whatever can be read now from a non-blocking fd; true at EOF or error.
bool drain_pipe(int fd, std::string& buf);

// g_dbus_connection_call_sync after wire_flush: every synchronous bus call
// goes through it, as its service may take up to the whole time-out.
GVariant* bus_call_sync(GDBusConnection* bus, const char* name, const char* path,
                        const char* iface, const char* method, GVariant* params,
                        const GVariantType* reply_type, GDBusCallFlags flags, int timeout_ms,
                        GCancellable* cancellable, GError** error);

// Bus connections, made once on first use; nullptr when unavailable.
GDBusConnection* session_bus();
GDBusConnection* system_bus();
