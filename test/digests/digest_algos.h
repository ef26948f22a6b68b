// The digests seen through one uniform table, so that the generic tests
// (streaming, splits, copies, bad lengths) run over every algorithm.
#ifndef MORVANE_TEST_DIGEST_ALGOS_H
#define MORVANE_TEST_DIGEST_ALGOS_H

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <morvane/md2.h>
#include <morvane/md4.h>
#include <morvane/md5.h>
#include <morvane/ripemd.h>
#include <morvane/sha.h>

#include "test_support.h"

namespace digest_test {

using morvane_test::Bytes;

struct Algo {
  const char* name;
  size_t md_len;
  size_t ctx_size;
  int (*init)(void* ctx);
  int (*update)(void* ctx, const void* data, size_t len);
  int (*final)(unsigned char* md, void* ctx);
  unsigned char* (*oneshot)(const unsigned char* d, size_t n, unsigned char* md);
};

// Names the digest in test output instead of dumping the record's bytes.
inline void PrintTo(const Algo& a, std::ostream* os) {
  *os << a.name;
}

template <class Ctx, auto Init, auto Update, auto Final, auto OneShot>
constexpr Algo MakeAlgo(const char* name, size_t md_len) {
  return Algo{
      name,
      md_len,
      sizeof(Ctx),
      [](void* c) { return Init(static_cast<Ctx*>(c)); },
      [](void* c, const void* d, size_t n) {
        return Update(static_cast<Ctx*>(c), static_cast<const unsigned char*>(d), n);
      },
      [](unsigned char* md, void* c) { return Final(md, static_cast<Ctx*>(c)); },
      OneShot,
  };
}

inline const std::vector<Algo>& AllAlgos() {
  static const std::vector<Algo> algos = {
      MakeAlgo<MD2_CTX, MD2_Init, MD2_Update, MD2_Final, MD2>("MD2", 16),
      MakeAlgo<MD4_CTX, MD4_Init, MD4_Update, MD4_Final, MD4>("MD4", 16),
      MakeAlgo<MD5_CTX, MD5_Init, MD5_Update, MD5_Final, MD5>("MD5", 16),
      MakeAlgo<SHA_CTX, SHA_Init, SHA_Update, SHA_Final, SHA>("SHA0", 20),
      MakeAlgo<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final, SHA1>("SHA1", 20),
      MakeAlgo<SHA256_CTX, SHA224_Init, SHA224_Update, SHA224_Final, SHA224>("SHA224", 28),
      MakeAlgo<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final, SHA256>("SHA256", 32),
      MakeAlgo<SHA512_CTX, SHA384_Init, SHA384_Update, SHA384_Final, SHA384>("SHA384", 48),
      MakeAlgo<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final, SHA512>("SHA512", 64),
      MakeAlgo<RIPEMD160_CTX, RIPEMD160_Init, RIPEMD160_Update, RIPEMD160_Final, RIPEMD160>(
          "RIPEMD160", 20),
  };
  return algos;
}

inline const Algo& FindAlgo(const std::string& name) {
  for (const Algo& a : AllAlgos())
    if (name == a.name) return a;
  ADD_FAILURE() << "no digest " << name;
  return AllAlgos()[0];
}

// A context of any digest, kept in suitably aligned storage.
struct Context {
  alignas(16) unsigned char bytes[256] = {};
  void* get() { return bytes; }
};

// Digest of `msg` fed in the pieces whose lengths `cuts` gives (the rest in a
// last piece), through Init/Update/Final.
inline std::string DigestInPieces(const Algo& a, const uint8_t* msg, size_t len,
                                  const std::vector<size_t>& cuts) {
  Context c;
  EXPECT_EQ(a.init(c.get()), 1);
  size_t off = 0;
  for (size_t cut : cuts) {
    EXPECT_EQ(a.update(c.get(), msg + off, cut), 1);
    off += cut;
  }
  EXPECT_EQ(a.update(c.get(), msg + off, len - off), 1);
  unsigned char md[64];
  EXPECT_EQ(a.final(md, c.get()), 1);
  return morvane_test::ToHex(md, a.md_len);
}

inline std::string Digest(const Algo& a, const uint8_t* msg, size_t len) {
  return DigestInPieces(a, msg, len, {});
}
inline std::string Digest(const Algo& a, const std::string& msg) {
  return Digest(a, reinterpret_cast<const uint8_t*>(msg.data()), msg.size());
}

}  // namespace digest_test

#endif  // MORVANE_TEST_DIGEST_ALGOS_H
