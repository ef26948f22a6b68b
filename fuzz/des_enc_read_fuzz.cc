// Fuzzes the encrypted DES record reader over a pipe.  The input gives the
// key, the IV, the mode (PCBC or CBC), a list of read lengths and either raw
// bytes for the pipe or plaintext pieces that DES_enc_write sends first.
//
// Checks against a model of the record format (4-byte big-endian length,
// then at least one block of ciphertext): every DES_enc_read result is the
// model's (a record's length, a part of it with the rest kept for the next
// calls, 0 at the end or for a cut record, -1 for a negative length or a
// header out of range); written pieces read back as the same bytes; after
// the script the kept bytes drain, so no state reaches the next input.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <morvane/des.h>
#include <morvane/err.h>

namespace {

constexpr int kMaxRecord = 16384;
// The bytes put into the pipe before reading: far enough below its capacity
// that no write blocks (a pipe holds whole pages, and a write of more than a
// page starts a new one, so the bytes it holds can be much fewer).
size_t PipeBudget(int fd) {
  int cap = fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  if (cap < 0) cap = fcntl(fd, F_GETPIPE_SZ);
  return std::min<size_t>(60000, cap > 0 ? static_cast<size_t>(cap) / 4 : 0);
}

int CipherLen(int n) {
  return n < 8 ? 8 : (n + 7) / 8 * 8;
}

// The reader's model over the bytes in the pipe.
struct Model {
  std::string stream;
  size_t pos = 0;
  int kept = 0;

  int Read(int len) {
    if (len < 0) return -1;
    if (kept > 0) {
      if (len == 0) return 0;
      const int r = std::min(len, kept);
      kept -= r;
      return r;
    }
    len = std::min(len, kMaxRecord);
    if (stream.size() - pos < 4) {
      pos = stream.size();
      return 0;
    }
    const auto* h = reinterpret_cast<const uint8_t*>(stream.data() + pos);
    const auto n =
        static_cast<int32_t>(static_cast<uint32_t>(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3]);
    pos += 4;
    if (n < 0 || n > kMaxRecord) return -1;
    if (stream.size() - pos < static_cast<size_t>(CipherLen(n))) {
      pos = stream.size();
      return 0;
    }
    pos += static_cast<size_t>(CipherLen(n));
    if (len >= n) return n;
    kept = n - len;
    return len;
  }
};

void WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t r = write(fd, s.data() + done, s.size() - done);
    Check(r > 0, "pipe write");
    done += static_cast<size_t>(r);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  DES_cblock key, iv;
  for (auto& b : key) b = in.ConsumeIntegral<uint8_t>();
  for (auto& b : iv) b = in.ConsumeIntegral<uint8_t>();
  DES_key_schedule sched;
  DES_set_key_unchecked(&key, &sched);
  const int saved_mode = DES_rw_mode;
  DES_rw_mode = in.ConsumeBool() ? 1 : 0;
  const bool round_trip = in.ConsumeBool();
  std::vector<int> lengths(in.ConsumeIntegralInRange<size_t>(0, 16));
  for (int& l : lengths) l = in.ConsumeIntegralInRange(-1, 20000);

  int fds[2];
  Check(pipe2(fds, O_CLOEXEC) == 0, "pipe");
  const size_t budget = PipeBudget(fds[1]);
  Model model;
  std::string plain;  // what the reads are to return, in round trips
  if (round_trip) {
    while (in.remaining_bytes() > 0) {
      const size_t n = in.ConsumeIntegralInRange<size_t>(0, 20000);
      std::string piece(n, '\0');
      const std::string pattern = in.ConsumeRandomLengthString(16) + "p";
      for (size_t i = 0; i < n; i++) piece[i] = pattern[i % pattern.size()];
      std::string header;
      size_t wire = 0;
      for (size_t off = 0; off == 0 || off < n; off += kMaxRecord) {
        const int rec = static_cast<int>(std::min<size_t>(n - off, kMaxRecord));
        header.push_back(static_cast<char>(0));
        header.push_back(static_cast<char>(0));
        header.push_back(static_cast<char>(rec >> 8));
        header.push_back(static_cast<char>(rec));
        header.append(static_cast<size_t>(CipherLen(rec)), '\0');  // placeholder bytes
        wire += 4 + static_cast<size_t>(CipherLen(rec));
      }
      if (model.stream.size() + wire > budget) break;
      Check(DES_enc_write(fds[1], piece.data(), static_cast<int>(n), &sched, &iv) ==
                static_cast<int>(n),
            "enc_write sends everything");
      model.stream += header;
      plain += piece;
    }
  } else {
    model.stream = in.ConsumeBytesAsString(std::min(in.remaining_bytes(), budget));
    WriteAll(fds[1], model.stream);
  }
  close(fds[1]);

  static unsigned char buf[20000];
  size_t got = 0;
  auto check_bytes = [&](int r) {
    if (!round_trip || r <= 0) return;
    Check(got + static_cast<size_t>(r) <= plain.size() &&
              memcmp(buf, plain.data() + got, static_cast<size_t>(r)) == 0,
          "pieces read back");
    got += static_cast<size_t>(r);
  };
  for (int len : lengths) {
    const int r = DES_enc_read(fds[0], buf, len, &sched, &iv);
    Check(r == model.Read(len), "a read as the model says");
    check_bytes(r);
  }
  // Drain: kept bytes first, then the rest of the pipe, until a 0.
  for (int i = 0; i < 100000; i++) {
    const int r = DES_enc_read(fds[0], buf, kMaxRecord, &sched, &iv);
    Check(r == model.Read(kMaxRecord), "a drain read as the model says");
    check_bytes(r);
    if (model.kept == 0 && model.pos == model.stream.size()) break;
  }
  Check(model.kept == 0, "drained");
  if (round_trip) Check(got == plain.size(), "every piece read back");
  close(fds[0]);
  DES_rw_mode = saved_mode;
  ERR_clear_error();
  return 0;
}
