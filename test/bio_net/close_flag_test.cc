// The close flag of the streams over a descriptor (FILE, descriptor, socket,
// datagram and accept streams): it alone decides whether freeing the stream,
// or giving it another descriptor, closes the one it has; copies of a stream
// never close the descriptor they share.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>

#include <gtest/gtest.h>

#include <morvane/bio.h>

#include "net_util.h"

namespace {

std::map<int, FILE*> g_files;  // the FILE over each descriptor of the file kind

FILE* FileOver(int fd) {
  FILE*& f = g_files[fd];
  if (f == nullptr) f = fdopen(fd, "r+");
  return f;
}

struct Kind {
  const char* name;
  int (*open)();
  BIO* (*make)(int fd, int flag);
  long (*set)(BIO* b, int fd, int flag);
  bool copy_shares;  // a copy holds the descriptor (and must not close it)
};

void PrintTo(const Kind& k, std::ostream* os) {
  *os << k.name;
}

int NullFile() {
  return open("/dev/null", O_RDWR);
}
int TcpSocket() {
  return socket(AF_INET, SOCK_STREAM, 0);
}
int UdpSocket() {
  return socket(AF_INET, SOCK_DGRAM, 0);
}
long SetFd(BIO* b, int fd, int flag) {
  return BIO_set_fd(b, fd, flag);
}

const Kind kKinds[] = {
    {"file", NullFile, [](int fd, int flag) { return BIO_new_fp(FileOver(fd), flag); },
     [](BIO* b, int fd, int flag) { return BIO_set_fp(b, FileOver(fd), flag); }, true},
    // A copy of a descriptor stream keeps the flag and would close it too.
    {"fd", NullFile, BIO_new_fd, SetFd, false},
    {"socket", TcpSocket, BIO_new_socket, SetFd, true},
    {"datagram", UdpSocket, BIO_new_dgram, SetFd, true},
    {"accept", TcpSocket,
     [](int fd, int flag) {
       BIO* a = BIO_new(BIO_s_accept());
       BIO_set_fd(a, fd, flag);
       return a;
     },
     SetFd, true},
};

class CloseFlag : public net_test::BoundedTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void Release(int fd) {
    auto f = g_files.find(fd);
    if (f != g_files.end()) {
      fclose(f->second);
      g_files.erase(f);
    } else {
      close(fd);
    }
  }
};

TEST_P(CloseFlag, DecidesAboutTheDescriptor) {
  const Kind& k = GetParam();
  int fd[4];
  for (int& d : fd) ASSERT_GE(d = k.open(), 0);

  BIO* b = k.make(fd[0], BIO_CLOSE);
  EXPECT_EQ(BIO_get_close(b), BIO_CLOSE);
  BIO_free(b);
  EXPECT_FALSE(net_test::IsOpen(fd[0]));
  g_files.erase(fd[0]);

  b = k.make(fd[1], BIO_NOCLOSE);
  EXPECT_EQ(BIO_get_close(b), BIO_NOCLOSE);
  EXPECT_EQ(BIO_ctrl(b, BIO_C_SET_FD, BIO_CLOSE, nullptr), 0);  // no descriptor: refused
  EXPECT_EQ(k.set(b, fd[2], BIO_CLOSE), 1);  // not owned: stays open
  EXPECT_TRUE(net_test::IsOpen(fd[1]));
  EXPECT_EQ(k.set(b, fd[3], BIO_NOCLOSE), 1);  // owned: closed
  EXPECT_FALSE(net_test::IsOpen(fd[2]));
  g_files.erase(fd[2]);
  EXPECT_EQ(BIO_get_close(b), BIO_NOCLOSE);
  BIO_free(b);
  EXPECT_TRUE(net_test::IsOpen(fd[3]));

  b = k.make(fd[3], BIO_NOCLOSE);
  EXPECT_EQ(BIO_set_close(b, BIO_CLOSE), 1);
  EXPECT_EQ(BIO_get_close(b), BIO_CLOSE);
  if (k.copy_shares) {
    BIO* copy = BIO_dup_chain(b);
    ASSERT_NE(copy, nullptr);
    BIO_free(copy);
    EXPECT_TRUE(net_test::IsOpen(fd[3]));
  }
  BIO_free(b);
  EXPECT_FALSE(net_test::IsOpen(fd[3]));
  g_files.erase(fd[3]);
  Release(fd[1]);
}

INSTANTIATE_TEST_SUITE_P(Streams, CloseFlag, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
