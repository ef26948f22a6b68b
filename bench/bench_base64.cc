// Base64 at 16 B, 1 KiB and 16 KiB: EVP_EncodeUpdate/Final (64-character
// lines) and EVP_DecodeUpdate/Final (over those lines) against Nettle's
// base64_encode_update/final and base64_decode_update/final (which skip the
// line feeds); the base64 filter (BIO_f_base64 over a read-only memory
// stream, read 4 KiB at a time) against EVP_DecodeUpdate/Final over the same
// lines; and the cipher filter (BIO_f_cipher in front of a null sink)
// against EVP_EncryptUpdate on a kept context, AES-128-CBC.  Names are
// "base64-encode/<lib>/<bytes>", "base64-decode/<lib>/<bytes>" (bytes of
// data, not of text), "evp-base64-decode-filter/<way>/<bytes>" and
// "evp-aes128-cbc-filter/<way>/<bytes>".

#include <stdint.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <morvane/bio.h>
#include <morvane/evp.h>
#include <nettle/base64.h>

#include "bench.h"

namespace bench {
namespace {

// Text room for kMaxLen bytes in lines, with the terminating zero.
constexpr size_t kTextRoom = kMaxLen / 48 * 65 + 200;

std::string MorvaneText(const uint8_t* in, size_t len) {
  std::vector<unsigned char> t(kTextRoom);
  EVP_ENCODE_CTX ctx;
  EVP_EncodeInit(&ctx);
  int n = 0, f = 0;
  EVP_EncodeUpdate(&ctx, t.data(), &n, in, static_cast<int>(len));
  EVP_EncodeFinal(&ctx, t.data() + n, &f);
  return std::string(reinterpret_cast<char*>(t.data()), static_cast<size_t>(n + f));
}

Impl MorvaneEncode() {
  return Op("morvane", [] {
    auto text = std::make_shared<std::vector<unsigned char>>(kTextRoom);
    return [text](const uint8_t* in, uint8_t*, size_t len) {
      EVP_ENCODE_CTX ctx;
      EVP_EncodeInit(&ctx);
      int n = 0, f = 0;
      EVP_EncodeUpdate(&ctx, text->data(), &n, in, static_cast<int>(len));
      EVP_EncodeFinal(&ctx, text->data() + n, &f);
    };
  });
}

Impl NettleEncode() {
  return Op("nettle", [] {
    auto text = std::make_shared<std::vector<char>>(kTextRoom);
    return [text](const uint8_t* in, uint8_t*, size_t len) {
      base64_encode_ctx ctx;
      base64_encode_init(&ctx);
      const size_t n = base64_encode_update(&ctx, text->data(), len, in);
      base64_encode_final(&ctx, text->data() + n);
    };
  });
}

// The two encoders agree on kCheckLen bytes once Morvane's line feeds are
// taken out.
void CheckEncoders() {
  std::string ours = MorvaneText(Input(), kCheckLen), theirs(kTextRoom, '\0');
  std::string flat;
  for (char c : ours)
    if (c != '\n') flat += c;
  base64_encode_ctx ctx;
  base64_encode_init(&ctx);
  size_t n = base64_encode_update(&ctx, &theirs[0], kCheckLen, Input());
  n += base64_encode_final(&ctx, &theirs[n]);
  if (flat != theirs.substr(0, n)) Mismatch("base64-encode: morvane and nettle differ");
}

// The lined text of the first `len` input bytes, for every size timed.
std::shared_ptr<std::map<size_t, std::string>> Texts() {
  auto texts = std::make_shared<std::map<size_t, std::string>>();
  for (size_t len : kSizes) (*texts)[len] = MorvaneText(Input(), len);
  (*texts)[kCheckLen] = MorvaneText(Input(), kCheckLen);
  return texts;
}

Impl MorvaneDecode(const char* name = "morvane") {
  return Op(name, [] {
    auto texts = Texts();
    return [texts](const uint8_t*, uint8_t* out, size_t len) {
      const std::string& t = texts->at(len);
      EVP_ENCODE_CTX ctx;
      EVP_DecodeInit(&ctx);
      int n = 0, f = 0;
      EVP_DecodeUpdate(&ctx, out, &n, reinterpret_cast<const unsigned char*>(t.data()),
                       static_cast<int>(t.size()));
      EVP_DecodeFinal(&ctx, out + n, &f);
    };
  });
}

Impl NettleDecode() {
  return Op("nettle", [] {
    auto texts = Texts();
    return [texts](const uint8_t*, uint8_t* out, size_t len) {
      const std::string& t = texts->at(len);
      base64_decode_ctx ctx;
      base64_decode_init(&ctx);
      size_t n = len + 3;
      base64_decode_update(&ctx, &n, out, t.size(), t.data());
      base64_decode_final(&ctx);
    };
  });
}

// The lined text through the base64 filter over a read-only memory stream.
Impl FilterDecode() {
  return Op("filter", [] {
    auto texts = Texts();
    return [texts](const uint8_t*, uint8_t* out, size_t len) {
      const std::string& t = texts->at(len);
      BIO* b64 = BIO_new(BIO_f_base64());
      BIO_push(b64, BIO_new_mem_buf(const_cast<char*>(t.data()), static_cast<int>(t.size())));
      size_t got = 0;
      for (int n; (n = BIO_read(b64, out + got, 4096)) > 0;) got += static_cast<size_t>(n);
      BIO_free_all(b64);
    };
  });
}

// AES-128-CBC through a kept EVP context, padding off.
Impl EnvelopeCbc() {
  return Op("evp-update", [] {
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, kKey, kIv);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return [ctx](const uint8_t* in, uint8_t* out, size_t len) {
      int n = 0;
      EVP_EncryptUpdate(ctx.get(), out, &n, in, static_cast<int>(len));
    };
  });
}

// The same through the cipher filter into a null sink (no output to check).
Impl FilterCbc() {
  return Op("filter", [] {
    std::shared_ptr<BIO> chain(BIO_new(BIO_f_cipher()), BIO_free_all);
    BIO_push(chain.get(), BIO_new(BIO_s_null()));
    BIO_set_cipher(chain.get(), EVP_aes_128_cbc(), kKey, kIv, 1);
    return [chain](const uint8_t* in, uint8_t*, size_t len) {
      BIO_write(chain.get(), in, static_cast<int>(len));
    };
  });
}

}  // namespace

void RegisterBase64() {
  CheckEncoders();
  Throughput("base64-encode", 0, {MorvaneEncode(), NettleEncode()});
  Throughput("base64-decode", kCheckLen, {MorvaneDecode(), NettleDecode()});
  Throughput("evp-base64-decode-filter", kCheckLen, {MorvaneDecode("evp-update"), FilterDecode()});
  Throughput("evp-aes128-cbc-filter", 0, {EnvelopeCbc(), FilterCbc()});
}

}  // namespace bench
