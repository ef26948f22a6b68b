// Fuzzes the reliable filter's reader: arbitrary bytes, or a stream its
// writer made from fuzz bytes and then damaged at a fuzz-chosen place, read
// in fuzz-chosen pieces from the scriptable test stream, with every built-in
// digest but the null one (which checks nothing and is refused).
//
// Checks: the reader never delivers more than it was given, and from a
// writer's stream it delivers a prefix of what was written: all of it when
// the stream is whole (status 1), and when a byte was changed, only the
// blocks before the damage, with status 0 when anything was held back.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <string>
#include <vector>

#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "scripted_stream.h"

namespace {

const EVP_MD* const* Digests() {
  static const EVP_MD* const kDigests[] = {
      EVP_md2(),    EVP_md4(),    EVP_md5(),       EVP_sha(),    EVP_sha1(),
      EVP_dss(),    EVP_dss1(),   EVP_ecdsa(),     EVP_sha224(), EVP_sha256(),
      EVP_sha384(), EVP_sha512(), EVP_ripemd160(),
  };
  return kDigests;
}
constexpr int kDigestCount = 13;  // every built-in digest but the null one

BIO* Filter(const EVP_MD* md, BIO** next) {
  BIO* b = BIO_new(BIO_f_reliable());
  *next = morvane_test::NewScriptedStream();
  Check(b != nullptr && *next != nullptr, "streams");
  Check(BIO_set_md(b, md) == 1, "a built-in digest is accepted");
  BIO_push(b, *next);
  return b;
}

std::string Write(FuzzInput& in, const EVP_MD* md, const std::string& data) {
  BIO* next = nullptr;
  BIO* w = Filter(md, &next);
  size_t pos = 0;
  while (pos < data.size()) {
    const size_t n = in.ConsumeIntegralInRange<size_t>(1, data.size() - pos);
    Check(BIO_write(w, data.data() + pos, static_cast<int>(n)) == static_cast<int>(n), "a write");
    pos += n;
    if (in.ConsumeIntegralInRange(0, 7) == 0) Check(BIO_flush(w) == 1, "a flush");
  }
  Check(BIO_flush(w) == 1, "the last flush");
  std::string wire = morvane_test::Script(next).output;
  BIO_free_all(w);
  return wire;
}

std::string Read(FuzzInput& in, const EVP_MD* md, const std::string& wire, long* status) {
  BIO* next = nullptr;
  BIO* r = Filter(md, &next);
  morvane_test::ScriptedStream& st = morvane_test::Script(next);
  st.input = wire;
  st.max_read = in.ConsumeIntegralInRange(0, 5000);
  std::string out;
  std::vector<char> buf(9000);
  for (int calls = 0; calls < 100000; calls++) {
    const int want = in.ConsumeIntegralInRange(1, 9000);
    const int n = BIO_read(r, buf.data(), want);
    Check(n <= want, "no more than asked for");
    if (n <= 0) break;
    out.append(buf.data(), static_cast<size_t>(n));
  }
  *status = BIO_ctrl(r, BIO_CTRL_INFO, 0, nullptr);
  BIO_free_all(r);
  Check(out.size() <= wire.size(), "no more than was given");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const EVP_MD* md = Digests()[in.ConsumeIntegralInRange(0, kDigestCount - 1)];
  const int mode = in.ConsumeIntegralInRange(0, 2);  // raw bytes, whole stream, damaged stream
  long status = 0;
  if (mode == 0) {
    Read(in, md, in.ConsumeRandomLengthString(20000), &status);
  } else {
    std::string plain = in.ConsumeRandomLengthString(12000);
    if (in.ConsumeBool()) plain += std::string(in.ConsumeIntegralInRange<size_t>(0, 9000), 'p');
    std::string wire = Write(in, md, plain);
    size_t at = 0;
    if (mode == 2 && !wire.empty()) {
      at = in.ConsumeIntegralInRange<size_t>(0, wire.size() - 1);
      wire[at] = static_cast<char>(wire[at] ^ in.ConsumeIntegralInRange(1, 255));
    }
    const std::string got = Read(in, md, wire, &status);
    Check(plain.compare(0, got.size(), got) == 0, "a prefix of what was written");
    if (mode == 1) Check(got == plain && status == 1, "a whole stream reads back");
    if (mode == 2) {
      Check(got.size() <= at, "nothing from the damaged block on");
      if (got.size() < plain.size()) Check(status == 0, "held-back data is reported");
    }
  }
  ERR_clear_error();
  return 0;
}
