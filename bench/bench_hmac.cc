// HMAC and PBKDF2 against Nettle.  HMAC-SHA256 on 64-byte messages with a
// context keyed once and restarted for every message (Morvane:
// HMAC_Init_ex with null key and digest; Nettle's digest call restarts by
// itself).  PBKDF2-HMAC-SHA1 in iterations per second: a 20-byte key (one
// block) from an 8-byte pass phrase and salt, 4096 iterations per call.

#include <stdint.h>
#include <string.h>

#include <nettle/hmac.h>
#include <nettle/pbkdf2.h>

#include <morvane/evp.h>
#include <morvane/hmac.h>

#include "bench.h"

namespace bench {
namespace {

constexpr size_t kMessage = 64;
constexpr unsigned kIterations = 4096;
const uint8_t kPass[8] = {'p', 'a', 's', 's', 'w', 'o', 'r', 'd'};
const uint8_t kSalt[8] = {0x78, 0x57, 0x8e, 0x5a, 0x5d, 0x63, 0xcb, 0x06};

void HmacOurs(benchmark::State& state) {
  HMAC_CTX c;
  HMAC_CTX_init(&c);
  HMAC_Init_ex(&c, kKey, sizeof kKey, EVP_sha256(), nullptr);
  uint8_t mac[32];
  for (auto _ : state) {
    HMAC_Init_ex(&c, nullptr, 0, nullptr, nullptr);
    HMAC_Update(&c, Input(), kMessage);
    HMAC_Final(&c, mac, nullptr);
    benchmark::DoNotOptimize(mac);
  }
  HMAC_CTX_cleanup(&c);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessage));
}

void HmacNettle(benchmark::State& state) {
  hmac_sha256_ctx c;
  hmac_sha256_set_key(&c, sizeof kKey, kKey);
  uint8_t mac[32];
  for (auto _ : state) {
    hmac_sha256_update(&c, kMessage, Input());
    hmac_sha256_digest(&c, sizeof mac, mac);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessage));
}

void Pbkdf2Ours(benchmark::State& state) {
  uint8_t dk[20];
  for (auto _ : state) {
    PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(kPass), sizeof kPass, kSalt,
                           sizeof kSalt, kIterations, sizeof dk, dk);
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

}  // namespace

void RegisterHmac() {
  // Both libraries must agree before anything is timed.
  uint8_t ours[32], theirs[32];
  HMAC(EVP_sha256(), kKey, sizeof kKey, Input(), kMessage, ours, nullptr);
  hmac_sha256_ctx c;
  hmac_sha256_set_key(&c, sizeof kKey, kKey);
  hmac_sha256_update(&c, kMessage, Input());
  hmac_sha256_digest(&c, sizeof theirs, theirs);
  if (memcmp(ours, theirs, sizeof ours) != 0) Mismatch("hmac-sha256: morvane and nettle differ");
  PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(kPass), sizeof kPass, kSalt, sizeof kSalt,
                         kIterations, 20, ours);
  pbkdf2_hmac_sha1(sizeof kPass, kPass, kIterations, sizeof kSalt, kSalt, 20, theirs);
  if (memcmp(ours, theirs, 20) != 0) Mismatch("pbkdf2-hmac-sha1: morvane and nettle differ");

  benchmark::RegisterBenchmark("hmac-sha256/morvane", HmacOurs)->Arg(kMessage);
  benchmark::RegisterBenchmark("hmac-sha256/nettle", HmacNettle)->Arg(kMessage);
  benchmark::RegisterBenchmark("kdf-pbkdf2-hmac-sha1/morvane", Pbkdf2Ours);
  benchmark::RegisterBenchmark("kdf-pbkdf2-hmac-sha1/nettle", Pbkdf2Nettle);
}

}  // namespace bench
