// Fuzzes the buffering and line-buffering filters with a call script: writes
// of any size (up to several buffers), puts, flushes, resets, buffer resizes
// and (buffer filter) replaced read data on a writing chain, and reads and
// gets of any size on a reading chain, each filter in front of a memory
// stream.
//
// Checks: what reached the sink is always a prefix of what was written,
// followed by exactly the held byte count (BIO_CTRL_INFO), and after a flush
// it is all of it; the bytes read and got are the source's bytes in order
// (or the replaced read data, then the source's unread rest); a short line
// from gets means the end of the input; at the end everything was read.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <morvane/bio.h>
#include <morvane/err.h>

namespace {

std::string SinkText(BIO* sink) {
  char* p = nullptr;
  long n = BIO_get_mem_data(sink, &p);
  return std::string(p, static_cast<size_t>(n));
}

// Up to `len` bytes drawn from a short pattern taken from the input, with a
// line feed every `period` bytes (none for 0), so a few input bytes make a
// write of several buffers.
std::string MakeChunk(FuzzInput& in) {
  const size_t len = in.ConsumeIntegralInRange<size_t>(0, 25000);
  const size_t period = in.ConsumeIntegralInRange<size_t>(0, 300);
  std::string pattern = in.ConsumeRandomLengthString(16);
  if (pattern.empty()) pattern = "x";
  std::string s(len, '\0');
  for (size_t i = 0; i < len; i++)
    s[i] = period != 0 && i % period == period - 1 ? '\n' : pattern[i % pattern.size()];
  return s;
}

struct Writer {
  BIO* chain;
  BIO* sink;
  std::string written;  // what the sink is to receive, minus dropped bytes

  // The sink holds a prefix of `written` and the filter the rest.
  void CheckHeld() const {
    const std::string got = SinkText(sink);
    Check(written.compare(0, got.size(), got) == 0, "the sink holds a prefix of the writes");
    Check(static_cast<size_t>(BIO_ctrl(chain, BIO_CTRL_INFO, 0, nullptr)) ==
              written.size() - got.size(),
          "the filter holds the rest");
  }
  // What the filter held is gone (reset, or a replaced output buffer).
  void Dropped() { written = SinkText(sink); }
};

struct Reader {
  BIO* chain;
  BIO* source;
  std::string all;     // the source's bytes
  std::string expect;  // the bytes still to come through the chain
  int ibuf_size = 4096;

  void Took(const char* p, size_t n) {
    Check(n <= expect.size() && expect.compare(0, n, p, n) == 0, "bytes in order");
    expect.erase(0, n);
  }
  // The filter's buffered input is gone: the source's unread rest follows.
  void Refill(const std::string& front) {
    expect = front + all.substr(all.size() - BIO_ctrl_pending(source));
  }
};

void Step(FuzzInput& in, Writer& w, Reader& r, bool line_filter) {
  static char buf[30000];
  switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: {
      const std::string s = MakeChunk(in);
      const int n = BIO_write(w.chain, s.data(), static_cast<int>(s.size()));
      Check(n == static_cast<int>(s.size()), "a write takes everything");
      w.written += s;
      break;
    }
    case 1: {
      std::string s = in.ConsumeRandomLengthString(64);
      s = s.c_str();
      Check(BIO_puts(w.chain, s.c_str()) == static_cast<int>(s.size()), "puts");
      w.written += s;
      break;
    }
    case 2:
      Check(BIO_flush(w.chain) == 1 && SinkText(w.sink) == w.written, "a flush sends all");
      break;
    case 3:
      BIO_reset(w.chain);  // the sink is emptied too
      w.written.clear();
      break;
    case 4: {
      const int size = in.ConsumeIntegralInRange(4000, 12000);
      const int which = in.ConsumeIntegralInRange(0, 2);  // input, output, both
      const long before = BIO_ctrl(w.chain, BIO_CTRL_INFO, 0, nullptr);
      const long ok = which == 2 ? BIO_set_buffer_size(w.chain, size)
                                 : BIO_int_ctrl(w.chain, BIO_C_SET_BUFF_SIZE, size, which);
      Check(ok == 1, "a resize");
      // The buffer filter drops the output it held; the line filter keeps it.
      if (!line_filter && which != 0 && BIO_ctrl(w.chain, BIO_CTRL_INFO, 0, nullptr) != before)
        w.Dropped();
      if (!line_filter && which != 1) {
        Check(BIO_set_buffer_size(r.chain, size) == 1, "a resize");
        if (size > 4096 && size != r.ibuf_size) {  // a new input buffer
          r.Refill("");
          r.ibuf_size = size;
        }
      }
      break;
    }
    case 5: {
      const int want = in.ConsumeIntegralInRange(0, 25000);
      const int n = BIO_read(r.chain, buf, want);
      if (n > 0) {
        r.Took(buf, static_cast<size_t>(n));
      } else {
        Check(n == 0 && (want == 0 || r.expect.empty()), "a read ends only at the end");
      }
      break;
    }
    case 6: {
      const int size = in.ConsumeIntegralInRange(0, 300);
      const int n = BIO_gets(r.chain, buf, size);
      if (n > 0) {
        r.Took(buf, static_cast<size_t>(n));
        if (buf[n - 1] != '\n' && n < size - 1) Check(r.expect.empty(), "a short line at the end");
      }
      break;
    }
    case 7:
      if (!line_filter) {
        const std::string s = in.ConsumeRandomLengthString(64);
        Check(BIO_set_buffer_read_data(r.chain, s.data(), s.size()) == 1, "read data");
        r.Refill(s);
      }
      break;
    case 8:
      if (!line_filter && BIO_pending(r.chain) > 0) {
        long lines = BIO_get_buffer_num_lines(r.chain);
        Check(lines >= 0, "a line count");
      }
      break;
    default:
      w.CheckHeld();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool line_filter = in.ConsumeBool();
  BIO_METHOD* meth = line_filter ? BIO_f_linebuffer() : BIO_f_buffer();
  Writer w{BIO_new(meth), BIO_new(BIO_s_mem()), ""};
  Check(w.chain != nullptr && w.sink != nullptr, "streams");
  BIO_push(w.chain, w.sink);

  Reader r;
  r.all = in.ConsumeRandomLengthString(4096);
  if (in.ConsumeBool()) r.all += MakeChunk(in);
  r.expect = r.all;
  r.chain = BIO_new(meth);
  r.source = BIO_new_mem_buf(const_cast<char*>(r.all.data()), static_cast<int>(r.all.size()));
  Check(r.chain != nullptr && r.source != nullptr, "streams");
  BIO_push(r.chain, r.source);

  for (int i = 0; i < 200 && in.remaining_bytes() > 0; i++) {
    Step(in, w, r, line_filter);
    w.CheckHeld();
  }
  Check(BIO_flush(w.chain) == 1 && SinkText(w.sink) == w.written, "a last flush sends all");
  static char buf[4096];
  int n;
  while ((n = BIO_read(r.chain, buf, sizeof(buf))) > 0) r.Took(buf, static_cast<size_t>(n));
  Check(n == 0 && r.expect.empty(), "everything was read");
  BIO_free_all(w.chain);
  BIO_free_all(r.chain);
  ERR_clear_error();
  return 0;
}
