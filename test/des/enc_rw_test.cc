// DES encrypted stream records over pipes: round trips at the record-size
// boundaries in both modes, the bytes on the wire, reads in small pieces,
// corrupt headers, negative lengths, end of input, write errors and EINTR.

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/rand.h>

#include "des_test_util.h"
#include "test_support.h"

namespace {

using des_test::Bytes;
using des_test::FromHex;
using des_test::Lcg;
using des_test::ToHex;

// A pipe with the views these tests take of it.
struct Pipe : morvane_test::Pipe {
  int r() const { return read_fd; }
  int w() const { return write_fd; }
  int Pending() const {  // bytes waiting
    int n = -1;
    EXPECT_EQ(ioctl(read_fd, FIONREAD, &n), 0);
    return n;
  }
  void Put(const Bytes& b) const { EXPECT_TRUE(morvane_test::WriteAll(write_fd, std::string(b.begin(), b.end()))); }
  Bytes Take(size_t n) const {
    Bytes b(n);
    EXPECT_EQ(read(read_fd, b.data(), n), static_cast<ssize_t>(n));
    return b;
  }
};

// The key and IV of every record here.
struct Keys {
  DES_key_schedule ks = des_test::Schedule("0123456789abcdef");
  DES_cblock iv = {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
};

// Filler from a random method that gives 0xab bytes, so records repeat.
int FillAb(unsigned char* buf, int num) {
  std::memset(buf, 0xab, static_cast<size_t>(num));
  return 1;
}
const RAND_METHOD kAbFiller = {nullptr, FillAb, nullptr, nullptr, FillAb, nullptr};

class DesEncRecords : public ::testing::Test {
 protected:
  void SetUp() override { RAND_set_rand_method(&kAbFiller); }
  void TearDown() override {
    RAND_set_rand_method(nullptr);
    DES_rw_mode = 1;
  }
  // Reads until `total` bytes have come, in calls of at most `piece` bytes.
  Bytes ReadAll(int fd, size_t total, int piece) {
    Bytes got;
    Bytes buf(static_cast<size_t>(piece));
    while (got.size() < total) {
      const int r = DES_enc_read(fd, buf.data(), piece, &k_.ks, &k_.iv);
      if (r <= 0) {
        ADD_FAILURE() << "read returned " << r << " after " << got.size() << " bytes";
        break;
      }
      got.insert(got.end(), buf.begin(), buf.begin() + r);
    }
    return got;
  }
  Keys k_;
};

// Wire size of one record of n bytes: header and at least one block.
size_t RecordSize(size_t n) {
  return 4 + (n < 8 ? 8 : (n + 7) / 8 * 8);
}

TEST_F(DesEncRecords, RoundTripsAtTheRecordBoundaries) {
  Lcg rng(1);
  for (int mode : {1, 0}) {
    DES_rw_mode = mode;
    for (size_t len : {0, 1, 3, 16384, 16385, 20000}) {
      const Bytes data = rng.Fill(len);
      Pipe p;
      EXPECT_EQ(DES_enc_write(p.w(), data.data(), static_cast<int>(len), &k_.ks, &k_.iv),
                static_cast<int>(len));
      // One record per 16384 bytes and one for the rest (one for nothing).
      const size_t want_wire =
          len > 16384 ? RecordSize(16384) + RecordSize(len - 16384) : RecordSize(len);
      EXPECT_EQ(p.Pending(), static_cast<int>(want_wire)) << len;
      if (len == 0) {
        unsigned char b[8];
        EXPECT_EQ(DES_enc_read(p.r(), b, 8, &k_.ks, &k_.iv), 0);
      } else {
        EXPECT_EQ(ReadAll(p.r(), len, 20000), data) << "mode " << mode << " len " << len;
      }
      EXPECT_EQ(p.Pending(), 0);
    }
  }
  EXPECT_EQ(ToHex(Bytes(k_.iv, k_.iv + 8)), "fedcba9876543210");  // never changed
}

// 20 bytes read 5 at a time: 5, 5, 5, 5 from one record, the last three
// without touching the descriptor, then the next record.
TEST_F(DesEncRecords, KeptBytesComeFirst) {
  const Bytes twenty = FromHex("000102030405060708090a0b0c0d0e0f10111213");
  Pipe p;
  ASSERT_EQ(DES_enc_write(p.w(), twenty.data(), 20, &k_.ks, &k_.iv), 20);
  ASSERT_EQ(DES_enc_write(p.w(), "xyz", 3, &k_.ks, &k_.iv), 3);
  unsigned char b[5];
  ASSERT_EQ(DES_enc_read(p.r(), b, 5, &k_.ks, &k_.iv), 5);
  EXPECT_EQ(Bytes(b, b + 5), Bytes(twenty.begin(), twenty.begin() + 5));
  EXPECT_EQ(p.Pending(), 12);  // only the second record is left
  for (int i = 1; i < 4; i++) {
    ASSERT_EQ(DES_enc_read(-1, b, 5, &k_.ks, &k_.iv), 5);
    EXPECT_EQ(Bytes(b, b + 5), Bytes(twenty.begin() + 5 * i, twenty.begin() + 5 * i + 5));
  }
  // A call for more than is kept returns the rest alone.
  ASSERT_EQ(DES_enc_write(p.w(), twenty.data(), 20, &k_.ks, &k_.iv), 20);
  unsigned char big[100];
  ASSERT_EQ(DES_enc_read(p.r(), big, 100, &k_.ks, &k_.iv), 3);
  EXPECT_EQ(std::string(big, big + 3), "xyz");
  ASSERT_EQ(DES_enc_read(p.r(), big, 16, &k_.ks, &k_.iv), 16);
  ASSERT_EQ(DES_enc_read(-1, big, 100, &k_.ks, &k_.iv), 4);
  EXPECT_EQ(Bytes(big, big + 4), Bytes(twenty.begin() + 16, twenty.end()));
}

// A buffer that holds the record but not its padding takes exactly n bytes.
TEST_F(DesEncRecords, BufferBetweenLengthAndPadding) {
  const Bytes twenty(20, 0x5a);
  Pipe p;
  ASSERT_EQ(DES_enc_write(p.w(), twenty.data(), 20, &k_.ks, &k_.iv), 20);
  Bytes buf(24, 0xee);
  ASSERT_EQ(DES_enc_read(p.r(), buf.data(), 21, &k_.ks, &k_.iv), 20);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 20), twenty);
  EXPECT_EQ(Bytes(buf.begin() + 20, buf.end()), Bytes(4, 0xee));
}

// The wire form: a big-endian length, then the plaintext encrypted from the
// IV, a short record filled up from the random generator.
TEST_F(DesEncRecords, BytesOnTheWire) {
  for (int mode : {1, 0}) {
    DES_rw_mode = mode;
    auto decrypt = [&](const Bytes& ct) {
      Bytes pt(ct.size());
      DES_cblock iv;
      std::memcpy(iv, k_.iv, 8);
      if (mode == 1) {
        DES_pcbc_encrypt(ct.data(), pt.data(), static_cast<long>(ct.size()), &k_.ks, &iv, 0);
      } else {
        DES_cbc_encrypt(ct.data(), pt.data(), static_cast<long>(ct.size()), &k_.ks, &iv, 0);
      }
      return pt;
    };
    Pipe p;
    ASSERT_EQ(DES_enc_write(p.w(), "abc", 3, &k_.ks, &k_.iv), 3);
    ASSERT_EQ(p.Pending(), 12);
    EXPECT_EQ(ToHex(p.Take(4)), "00000003");
    EXPECT_EQ(ToHex(decrypt(p.Take(8))), "616263ababababab");

    // 20 bytes: 4 + 24, the last block zero-padded; the same record twice is
    // the same ciphertext, every record starting from the IV.
    const Bytes twenty = FromHex("4e6f77206973207468652074696d6520666f7220");
    ASSERT_EQ(DES_enc_write(p.w(), twenty.data(), 20, &k_.ks, &k_.iv), 20);
    ASSERT_EQ(DES_enc_write(p.w(), twenty.data(), 20, &k_.ks, &k_.iv), 20);
    ASSERT_EQ(p.Pending(), 56);
    EXPECT_EQ(ToHex(p.Take(4)), "00000014");
    const Bytes first = p.Take(24);
    EXPECT_EQ(ToHex(p.Take(4)), "00000014");
    EXPECT_EQ(p.Take(24), first);
    Bytes padded = twenty;
    padded.resize(24, 0);
    EXPECT_EQ(decrypt(first), padded) << "mode " << mode;
  }
}

// When the generator gives nothing, a short record is filled with zeros
// rather than with whatever the stack held.
int NoBytes(unsigned char*, int) {
  return 0;
}
TEST_F(DesEncRecords, FillerWithoutPseudoRandomOperation) {
  const RAND_METHOD no_pseudo = {nullptr, NoBytes, nullptr, nullptr, nullptr, nullptr};
  RAND_set_rand_method(&no_pseudo);
  Pipe p;
  ASSERT_EQ(DES_enc_write(p.w(), "hi", 2, &k_.ks, &k_.iv), 2);
  p.Take(4);
  const Bytes ct = p.Take(8);
  Bytes pt(8);
  DES_cblock iv;
  std::memcpy(iv, k_.iv, 8);
  DES_pcbc_encrypt(ct.data(), pt.data(), 8, &k_.ks, &iv, 0);
  EXPECT_EQ(ToHex(pt), "6869000000000000");
}

// A header outside 0..16384 is refused with -1 and consumes nothing more.
TEST_F(DesEncRecords, CorruptHeaderRefused) {
  for (const char* header : {"00004001", "7fffffff", "80000000", "ffffffff"}) {
    Pipe p;
    p.Put(FromHex(std::string(header) + "0001020304050607"));
    unsigned char buf[64];
    EXPECT_EQ(DES_enc_read(p.r(), buf, sizeof(buf), &k_.ks, &k_.iv), -1) << header;
    EXPECT_EQ(p.Pending(), 8) << header;
  }
  // The largest record is accepted.
  const Bytes data(16384, 0x42);
  Pipe p;
  ASSERT_EQ(DES_enc_write(p.w(), data.data(), 16384, &k_.ks, &k_.iv), 16384);
  EXPECT_EQ(p.Pending(), 16388);
  EXPECT_EQ(ReadAll(p.r(), 16384, 16384), data);
}

TEST_F(DesEncRecords, NegativeLengthsTouchNothing) {
  Pipe p;
  unsigned char buf[8] = {0};
  EXPECT_EQ(DES_enc_write(p.w(), buf, -1, &k_.ks, &k_.iv), -1);
  EXPECT_EQ(DES_enc_write(p.w(), buf, INT32_MIN, &k_.ks, &k_.iv), -1);
  EXPECT_EQ(p.Pending(), 0);

  ASSERT_EQ(DES_enc_write(p.w(), "0123456789", 10, &k_.ks, &k_.iv), 10);
  EXPECT_EQ(DES_enc_read(p.r(), buf, -1, &k_.ks, &k_.iv), -1);
  EXPECT_EQ(p.Pending(), 20);  // the record is still there
  // With bytes kept from a record, they stay kept.
  ASSERT_EQ(DES_enc_read(p.r(), buf, 4, &k_.ks, &k_.iv), 4);
  EXPECT_EQ(DES_enc_read(p.r(), buf, -8, &k_.ks, &k_.iv), -1);
  ASSERT_EQ(DES_enc_read(p.r(), buf, 8, &k_.ks, &k_.iv), 6);
  EXPECT_EQ(std::string(buf, buf + 6), "456789");
}

TEST_F(DesEncRecords, EndOfInputReadsAsZero) {
  unsigned char buf[64];
  {
    Pipe p;
    p.CloseWrite();
    EXPECT_EQ(DES_enc_read(p.r(), buf, 64, &k_.ks, &k_.iv), 0);
  }
  {
    Pipe p;  // half a header
    p.Put(FromHex("0000"));
    p.CloseWrite();
    EXPECT_EQ(DES_enc_read(p.r(), buf, 64, &k_.ks, &k_.iv), 0);
  }
  {
    Pipe p;  // a header and part of the record
    p.Put(FromHex("00000010000102030405060708"));
    p.CloseWrite();
    EXPECT_EQ(DES_enc_read(p.r(), buf, 64, &k_.ks, &k_.iv), 0);
  }
  // A bad descriptor reads as end of input too.
  EXPECT_EQ(DES_enc_read(-1, buf, 64, &k_.ks, &k_.iv), 0);
}

TEST_F(DesEncRecords, WriteErrorGivesMinusOne) {
  signal(SIGPIPE, SIG_IGN);
  Pipe p;
  p.CloseRead();
  EXPECT_EQ(DES_enc_write(p.w(), "data", 4, &k_.ks, &k_.iv), -1);
  EXPECT_EQ(DES_enc_write(p.w(), Bytes(20000).data(), 20000, &k_.ks, &k_.iv), -1);
  EXPECT_EQ(DES_enc_write(-1, "data", 4, &k_.ks, &k_.iv), -1);
}

// Signals that interrupt a blocked read or write are ridden out: the handler
// is installed without SA_RESTART, so read and write fail with EINTR.
volatile sig_atomic_t g_signals = 0;
void CountSignal(int) {
  g_signals = g_signals + 1;
}

TEST_F(DesEncRecords, InterruptedCallsAreRetried) {
  struct sigaction sa = {};
  sa.sa_handler = CountSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ASSERT_EQ(sigaction(SIGUSR1, &sa, nullptr), 0);
  const pthread_t self = pthread_self();
  auto poke = [self] {
    for (int i = 0; i < 3; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      pthread_kill(self, SIGUSR1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };

  // Reader blocked on an empty pipe; the record arrives in two parts.
  Lcg rng(9);
  const Bytes data = rng.Fill(100);
  Pipe wire;
  ASSERT_EQ(DES_enc_write(wire.w(), data.data(), 100, &k_.ks, &k_.iv), 100);
  const Bytes record = wire.Take(RecordSize(100));
  Pipe p;
  std::thread sender([&] {
    poke();
    p.Put(Bytes(record.begin(), record.begin() + 2));
    poke();
    p.Put(Bytes(record.begin() + 2, record.end()));
  });
  Bytes got(100);
  EXPECT_EQ(DES_enc_read(p.r(), got.data(), 100, &k_.ks, &k_.iv), 100);
  sender.join();
  EXPECT_EQ(got, data);
  // Signals sent while one is pending merge into one: at least one arrived.
  const int after_read = g_signals;
  EXPECT_GE(after_read, 1);

  // Writer blocked on a full pipe; the reader drains it after the signals.
  Pipe q;
  ASSERT_EQ(fcntl(q.w(), F_SETFL, 0), 0);
  const int capacity = fcntl(q.w(), F_GETPIPE_SZ);
  ASSERT_GT(capacity, 0);
  const Bytes big = rng.Fill(static_cast<size_t>(capacity) + 20000);
  std::thread drainer([&] {
    poke();
    EXPECT_EQ(ReadAll(q.r(), big.size(), 16384), big);
  });
  EXPECT_EQ(DES_enc_write(q.w(), big.data(), static_cast<int>(big.size()), &k_.ks, &k_.iv),
            static_cast<int>(big.size()));
  drainer.join();
  EXPECT_GT(g_signals, after_read);
}

}  // namespace
