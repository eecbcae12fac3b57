#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "core/wire.h"

namespace {

struct SocketPair {
  int ours = -1, theirs = -1;
  SocketPair() {
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    ours = fds[0];
    theirs = fds[1];
    g_sock = ours;
  }
  ~SocketPair() {
    g_sock = -1;
    close(ours);
    close(theirs);
  }
  std::string read_available() {
    fcntl(theirs, F_SETFL, O_NONBLOCK);
    std::string out;
    drain_pipe(theirs, out);
    return out;
  }
};

TEST(Writer, LinesGoOutWholeWithTerminator) {
  SocketPair sp;
  pipe_write_line("GOT 1 {}");
  pipe_write_line("");
  EXPECT_EQ(sp.read_available(), "GOT 1 {}\n\n");
}

TEST(Writer, HeldLinesFollowTheReleasedLineInOrder) {
  SocketPair sp;
  wire_hold();
  pipe_write_line("WINSTATE main {}");
  std::thread([] { pipe_write_line("GOT 7 null"); }).join();
  wire_flush();
  EXPECT_EQ(sp.read_available(), "");
  wire_release("SYS theme light");
  pipe_write_line("CALL main:1 []");
  EXPECT_EQ(sp.read_available(),
            "SYS theme light\nWINSTATE main {}\nGOT 7 null\nCALL main:1 []\n");
}

TEST(Writer, RawLineBreaksAreNeverSent) {
  SocketPair sp;
  testing::internal::CaptureStderr();
  pipe_write_line("A\nB");
  pipe_write_line("A\rB");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(sp.read_available(), "");
  EXPECT_EQ(err,
            "ovalis: dropped a wire line with a raw line break\n"
            "ovalis: dropped a wire line with a raw line break\n");
}

TEST(Writer, ConcurrentWritersNeverInterleave) {
  SocketPair sp;
  std::string got;
  std::thread reader([&] {
    char buf[65536];
    ssize_t n;
    while ((n = read(sp.theirs, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      std::string body(3000 + t * 1000, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) pipe_write_line(body);
    });
  }
  for (auto& w : writers) w.join();
  shutdown(sp.ours, SHUT_WR);
  reader.join();
  size_t lines = 0, pos = 0, nl;
  while ((nl = got.find('\n', pos)) != std::string::npos) {
    std::string line = got.substr(pos, nl - pos);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos);
    EXPECT_EQ(line.size(), 3000u + static_cast<size_t>(line[0] - 'a') * 1000u);
    ++lines;
    pos = nl + 1;
  }
  EXPECT_EQ(lines, 800u);
}

TEST(Writer, ClosedPeerDoesNotKillTheProcess) {
  SocketPair sp;
  close(sp.theirs);
  sp.theirs = open("/dev/null", O_RDONLY);
  pipe_write_line("into the void");  // would raise SIGPIPE without protection
  SUCCEED();
}

TEST(DrainPipe, ReportsMoreLaterAndEnd) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::string buf;
  EXPECT_FALSE(drain_pipe(fds[0], buf));
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  EXPECT_FALSE(drain_pipe(fds[0], buf));
  EXPECT_EQ(buf, "abc");
  close(fds[1]);
  EXPECT_TRUE(drain_pipe(fds[0], buf));
  close(fds[0]);
  EXPECT_TRUE(drain_pipe(-1, buf));
}

}  // namespace
