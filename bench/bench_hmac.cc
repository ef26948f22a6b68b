// HMAC and PBKDF2 against Nettle.  HMAC on 64-byte messages, three ways for
// each digest (SHA-256, SHA-1, SHA-512, MD5):
//   "hmac-<digest>": a context keyed once and restarted for every message
//     (Morvane: HMAC_Init_ex with null key and digest; Nettle's digest call
//     restarts by itself);
//   "hmac-<digest>-newkey": a new key for every message through the
//     one-shot HMAC() (a context of its own: init, keying, update, final,
//     cleanup);
//   "hmac-<digest>-initkey": a new key for every message through
//     HMAC_Init_ex with the key, on a context kept across messages.
// Nettle's side of both new-key rows is set_key, update and digest.
// PBKDF2-HMAC-SHA1 in iterations per second: a 20-byte key (one block) from
// an 8-byte pass phrase and salt, 4096 iterations per call.
// "pbe-iteration/<digest>": Morvane alone, one output block of the PKCS#12
// derivation (PKCS12_key_gen_uni), 4096 iterations per call: each is
// D = H(D) through the digest envelope, as PBES1 runs it too.  Their ratios
// to SHA-1's are the costs that weigh a count read from a file against
// PKCS5_MAX_FILE_ITER (crypto/internal/iter_count.h).

#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>

#include <nettle/hmac.h>
#include <nettle/pbkdf2.h>

#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/pkcs12.h>

#include "bench.h"

namespace bench {
namespace {

constexpr size_t kMessage = 64;
constexpr unsigned kIterations = 4096;
const uint8_t kPass[8] = {'p', 'a', 's', 's', 'w', 'o', 'r', 'd'};
const uint8_t kSalt[8] = {0x78, 0x57, 0x8e, 0x5a, 0x5d, 0x63, 0xcb, 0x06};

// One digest's HMAC in both libraries: Morvane's description, Nettle's
// context type and functions.
template <class NettleCtx>
struct HmacPair {
  const EVP_MD* (*md)();
  void (*set_key)(NettleCtx*, size_t, const uint8_t*);
  void (*update)(NettleCtx*, size_t, const uint8_t*);
  void (*digest)(NettleCtx*, size_t, uint8_t*);
};

// The key of each message: kKey with its first byte stepped, as a caller
// changing keys would.
struct Keys {
  uint8_t key[sizeof kKey];
  Keys() { memcpy(key, kKey, sizeof key); }
  const uint8_t* next() {
    key[0]++;
    return key;
  }
};

void Bytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessage));
}

// Morvane on one context kept across messages: restarted with the same key
// (null key and digest) or, with `rekey`, keyed anew for every message.
auto KeptContext(const EVP_MD* (*md)(), bool rekey) {
  return [md, rekey](benchmark::State& state) {
    Keys k;
    HMAC_CTX c;
    HMAC_CTX_init(&c);
    HMAC_Init_ex(&c, kKey, sizeof kKey, md(), nullptr);
    uint8_t mac[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
      if (rekey)
        HMAC_Init_ex(&c, k.next(), sizeof kKey, md(), nullptr);
      else
        HMAC_Init_ex(&c, nullptr, 0, nullptr, nullptr);
      HMAC_Update(&c, Input(), kMessage);
      HMAC_Final(&c, mac, nullptr);
      benchmark::DoNotOptimize(mac);
    }
    HMAC_CTX_cleanup(&c);
    Bytes(state);
  };
}

template <class NettleCtx>
void RegisterPair(const std::string& digest, HmacPair<NettleCtx> p) {
  const std::string op = "hmac-" + digest, newkey = op + "-newkey", initkey = op + "-initkey";
  const size_t size = static_cast<size_t>(EVP_MD_size(p.md()));
  // Both libraries must agree before anything is timed, for each way of
  // keying.
  uint8_t ours[EVP_MAX_MD_SIZE], oneshot[EVP_MAX_MD_SIZE], theirs[EVP_MAX_MD_SIZE];
  HMAC_CTX c;
  HMAC_CTX_init(&c);
  HMAC_Init_ex(&c, kKey, sizeof kKey, p.md(), nullptr);
  HMAC_Update(&c, Input(), kMessage);
  HMAC_Final(&c, ours, nullptr);
  HMAC_CTX_cleanup(&c);
  HMAC(p.md(), kKey, sizeof kKey, Input(), kMessage, oneshot, nullptr);
  NettleCtx n;
  p.set_key(&n, sizeof kKey, kKey);
  p.update(&n, kMessage, Input());
  p.digest(&n, size, theirs);
  if (memcmp(ours, theirs, size) != 0 || memcmp(oneshot, theirs, size) != 0)
    Mismatch(op + ": morvane and nettle differ");

  benchmark::RegisterBenchmark((op + "/morvane").c_str(), KeptContext(p.md, false))->Arg(kMessage);
  benchmark::RegisterBenchmark((op + "/nettle").c_str(), [p, size](benchmark::State& state) {
    NettleCtx n;
    p.set_key(&n, sizeof kKey, kKey);
    uint8_t mac[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
      p.update(&n, kMessage, Input());
      p.digest(&n, size, mac);
      benchmark::DoNotOptimize(mac);
    }
    Bytes(state);
  })->Arg(kMessage);

  benchmark::RegisterBenchmark((newkey + "/morvane").c_str(), [p](benchmark::State& state) {
    Keys k;
    uint8_t mac[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
      HMAC(p.md(), k.next(), sizeof kKey, Input(), kMessage, mac, nullptr);
      benchmark::DoNotOptimize(mac);
    }
    Bytes(state);
  })->Arg(kMessage);
  benchmark::RegisterBenchmark((initkey + "/morvane").c_str(), KeptContext(p.md, true))
      ->Arg(kMessage);
  for (const std::string& way : {newkey, initkey}) {
    benchmark::RegisterBenchmark((way + "/nettle").c_str(), [p, size](benchmark::State& state) {
      Keys k;
      NettleCtx n;
      uint8_t mac[EVP_MAX_MD_SIZE];
      for (auto _ : state) {
        p.set_key(&n, sizeof kKey, k.next());
        p.update(&n, kMessage, Input());
        p.digest(&n, size, mac);
        benchmark::DoNotOptimize(mac);
      }
      Bytes(state);
    })->Arg(kMessage);
  }
}

void Pbkdf2Ours(benchmark::State& state) {
  uint8_t dk[20];
  for (auto _ : state) {
    PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(kPass), sizeof kPass, kSalt, sizeof kSalt,
                           kIterations, sizeof dk, dk);
    benchmark::DoNotOptimize(dk);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kIterations));
}

void Pbkdf2Nettle(benchmark::State& state) {
  uint8_t dk[20];
  for (auto _ : state) {
    pbkdf2_hmac_sha1(sizeof kPass, kPass, kIterations, sizeof kSalt, kSalt, sizeof dk, dk);
    benchmark::DoNotOptimize(dk);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kIterations));
}

void PbeIteration(benchmark::State& state, const EVP_MD* md) {
  uint8_t out[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    PKCS12_key_gen_uni(const_cast<uint8_t*>(kPass), sizeof kPass, const_cast<uint8_t*>(kSalt),
                       sizeof kSalt, PKCS12_MAC_ID, kIterations, EVP_MD_size(md), out, md);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kIterations));
}

}  // namespace

void RegisterHmac() {
  RegisterPair("sha256", HmacPair<hmac_sha256_ctx>{EVP_sha256, hmac_sha256_set_key,
                                                   hmac_sha256_update, hmac_sha256_digest});
  RegisterPair("sha1", HmacPair<hmac_sha1_ctx>{EVP_sha1, hmac_sha1_set_key, hmac_sha1_update,
                                               hmac_sha1_digest});
  RegisterPair("sha512", HmacPair<hmac_sha512_ctx>{EVP_sha512, hmac_sha512_set_key,
                                                   hmac_sha512_update, hmac_sha512_digest});
  RegisterPair("md5",
               HmacPair<hmac_md5_ctx>{EVP_md5, hmac_md5_set_key, hmac_md5_update, hmac_md5_digest});

  // Both libraries must agree before anything is timed.
  uint8_t ours[20], theirs[20];
  PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(kPass), sizeof kPass, kSalt, sizeof kSalt,
                         kIterations, sizeof ours, ours);
  pbkdf2_hmac_sha1(sizeof kPass, kPass, kIterations, sizeof kSalt, kSalt, sizeof theirs, theirs);
  if (memcmp(ours, theirs, sizeof ours) != 0)
    Mismatch("pbkdf2-hmac-sha1: morvane and nettle differ");

  benchmark::RegisterBenchmark("kdf-pbkdf2-hmac-sha1/morvane", Pbkdf2Ours);
  benchmark::RegisterBenchmark("kdf-pbkdf2-hmac-sha1/nettle", Pbkdf2Nettle);
  const std::pair<const char*, const EVP_MD*> pbe_digests[] = {
      {"md2", EVP_md2()},       {"md4", EVP_md4()},
      {"md5", EVP_md5()},       {"sha", EVP_sha()},
      {"sha1", EVP_sha1()},     {"sha224", EVP_sha224()},
      {"sha256", EVP_sha256()}, {"sha384", EVP_sha384()},
      {"sha512", EVP_sha512()}, {"ripemd160", EVP_ripemd160()}};
  for (const auto& [name, md] : pbe_digests)
    benchmark::RegisterBenchmark((std::string("pbe-iteration/") + name + "/morvane").c_str(),
                                 PbeIteration, md);
}

}  // namespace bench
