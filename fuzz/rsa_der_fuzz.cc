// Fuzzes the RSA key decoders and the signature readers: arbitrary bytes
// through d2i_RSAPrivateKey and d2i_RSAPublicKey, as a signature through
// RSA_verify and RSA_verify_ASN1_OCTET_STRING over a fixed 2048-bit key, and
// as the block inside a signature (signed with the key's private half), so
// that the DigestInfo and OCTET STRING readers see the fuzzer's bytes.
//
// The bytes also go through the Netscape record reader under a fixed pass
// phrase: d2i_Netscape_RSA for the unsalted form, d2i_RSA_NET for the
// salted one; a record read is written again by the matching writer.
//
// Checks: a decoded key encodes, and that encoding decodes to a key that
// encodes to the same octets; a verification gives 0 or 1; a block that
// verifies is exactly a DER DigestInfo (with or without the NULL parameter)
// or the DER OCTET STRING of the message, the message at its end; a
// Netscape record that decodes is written again under the pass phrase and
// reads back to the same key.
//
// Input: one selector byte, one digest byte (for the Netscape reader: odd
// for the salted form), then the bytes.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

namespace {

using Bytes = std::vector<uint8_t>;

// The 2048-bit key of test/data/rsa/keys.txt.
const struct {
  const char* name;
  const char* hex;
} kKey[] = {
    {"n",
     "B7DB312821841DBD20412E99E02425C3026BB5C0A3CF5A091AF8314BB0D0BFF0C007EAF9F7C9F0B74CCBF440"
     "F98591AD38CC8F266B14B28CAAFAAA40BE5AC88B1AD13257570916C9B92544296293F1FB05788EB9B7AB818F"
     "512742CBB1683562F1F9074A9CA6FEC30973D7EE2008BAF2B4C67DCEB35638A00A1F98D5EB4AA144A1CD538F"
     "AF8DE72D40635A7309BF786737AAE35239C688295CD3EA07DAE17EBD2D64CD0A9EDE3F4F8F3EEEA57A2DA623"
     "B9055FF5FE6A5715EE76670ECBAD42BEF9081B3708C071B257A6B8FE15F4C262BD4C29921D16C902D1A4745B"
     "236EFB342DB3C21130E1E7F8403C2DFAE9018437958AD0BC04D3657020440C6C9985CD55"},
    {"e", "10001"},
    {"d",
     "6F5B5564A7182C22F6BC440B7314B1C2715EE790AC26D4B39B20244B61E6ADBA95B4B5FF7CB35516D06EDF9B"
     "D305B17C2760CE7B48741AC8D46E4A5C386F27F408E418078A71B8D9A9480706C1EC35AE025C48A5F7B6EB1B"
     "F0DD44B9B6D41531BEB9444F4E9E5EC3A6A00172FAF80EB31E06F30014E2EE1D10C49E7F42A9CB0E8CE332B1"
     "A5D0DAFCCD3ACC660C9263A6F95D4D286CC648ECE7D6FE5E9B0F9367C9E0AD5F19A7242999A1D69D57EEC988"
     "27DB4FAA2170718E199A7B5EC9F114D8DB99671D211C9226431EB12274BD19B0950DCFBED5DA7EAC7E70683B"
     "02622068B7304C3DC303889B98DBA12F8421C36C94C650A682A2440E59CACB5F5ACCF041"},
    {"p",
     "EC67CD3DBE70D5C1716E864D9FC33E33B24449B72D775DB5328BAE35E0F908316369BC6C14C2DCDB717F9D46"
     "B4F40666A9E5196FCCCA686E9A37B9A59A3676B69E2E69EE19D25EF4A628887BC6021CFB7AB744CBDA35DE76"
     "995123B7169634D4F637DBEA4C6A6FD4A39A3533782C381B12939B17CEC9F1AC6D3DEC43D36EAB8D"},
    {"q",
     "C7185E156B00B62A4B6E60141269D023B9FFF2F192A4F4F48DBB49DB47A261AE1AA56244F39A8A792FCBD3F6"
     "2F367103702DDC6275181067ECB413290D73A85459DB00EAFA58E45380D53DB26CD7FEA370C4EC54336AD9EA"
     "3B357D2BBA35E5F14561D8EE2E8910C65502E7B19EDF8AAE3D51E7613EEB4A6846448F8337DAD2E9"},
    {"dmp1",
     "654204D828851E19B0635DE54BC40E15888AD5643F763C4E0B6B66E02F0F9BE1C3AA1B89D3CEAF58D3218D15"
     "2716CAD3187C47CBEA54DC2C5BA3F8C1A4EF25240D56E60A9546D56346F45F995C73B5444608CFCFDD146BC8"
     "32DD5D45E3C7CCB3570F1004285D02AF7AAFE78FB72E818D9F04584EF744EA5E27A0795D87E78455"},
    {"dmq1",
     "969CFE7FA164F669E48A693086057A29ACC9CD55A6A41792F1AD5F5FFD3F003A1F7A416EFC024B03067F61A7"
     "F96B6BEF37EBD9AEB9FA2C5F1217DFEECC78543D0B84BB9B072C3BFE5795F98883029B65B527A3C8C6E4EC59"
     "5FD5450DD15E78C71EBFB8C5E67A5630539B50FF73BA9444DFAA98295ED9CC7E39BA1FFF1A3FF611"},
    {"iqmp",
     "92D90B75AFB703CB1FBA085AC740F829B636B78ABD8EDC4FE608F8F768FBFFADE8A1EDCE26522263241F60C7"
     "5DD6FDDF4F1764F655FAD32BCF2CF03AD1EF1C9E2D9DC48DAF3255A88AF03A51E8C57630B5DA7506FB983FD9"
     "6C4C38E4E97644A0C23151A3186FCC9BA4948C623E26BCD2294C3A7A49A82EA4A3BE6DA44BD259AD"},
};

RSA* FixedKey() {
  RSA* key = RSA_new();
  BIGNUM** slots[] = {&key->n, &key->e,    &key->d,    &key->p,
                      &key->q, &key->dmp1, &key->dmq1, &key->iqmp};
  for (size_t i = 0; i < 8; i++) BN_hex2bn(slots[i], kKey[i].hex);
  return key;
}

Bytes Encode(int (*i2d)(RSA*, unsigned char**), RSA* r) {
  unsigned char* der = nullptr;
  const int n = i2d(r, &der);
  Bytes out;
  if (n > 0) out.assign(der, der + n);
  CRYPTO_free(der);
  return out;
}

// A decoded key encodes, and its encoding comes back the same.
void RoundTrip(RSA* (*d2i)(RSA**, const unsigned char**, long), int (*i2d)(RSA*, unsigned char**),
               const Bytes& in) {
  const unsigned char* p = in.data();
  RSA* r = d2i(nullptr, &p, static_cast<long>(in.size()));
  if (r == nullptr) return;
  Check(p > in.data() && p <= in.data() + in.size(), "decoder advance");
  const Bytes der = Encode(i2d, r);
  Check(!der.empty(), "decoded key encodes");
  const unsigned char* q = der.data();
  RSA* again = d2i(nullptr, &q, static_cast<long>(der.size()));
  Check(again != nullptr && q == der.data() + der.size(), "encoding decodes");
  Check(Encode(i2d, again) == der, "encoding is stable");
  RSA_free(again);
  RSA_free(r);
}

int FuzzPass(char* buf, int len, const char*, int) {
  snprintf(buf, static_cast<size_t>(len), "%s", "fuzz pass phrase");
  return 0;
}

// Reads and writes a Netscape record: the unsalted form through its own
// entry points (d2i_Netscape_RSA, i2d_Netscape_RSA), the salted one through
// d2i_RSA_NET and i2d_RSA_NET.
RSA* ReadNet(const unsigned char** p, long len, int sgckey) {
  return sgckey ? d2i_RSA_NET(nullptr, p, len, FuzzPass, 1)
                : d2i_Netscape_RSA(nullptr, p, len, FuzzPass);
}
int WriteNet(const RSA* r, unsigned char** out, int sgckey) {
  return sgckey ? i2d_RSA_NET(r, out, FuzzPass, 1) : i2d_Netscape_RSA(r, out, FuzzPass);
}

// A Netscape record: a key read is written again and reads back alike.
void Netscape(const Bytes& in, int sgckey) {
  const unsigned char* p = in.data();
  RSA* r = ReadNet(&p, static_cast<long>(in.size()), sgckey);
  if (r == nullptr) return;
  Check(p > in.data() && p <= in.data() + in.size(), "Netscape decoder advance");
  const Bytes key = Encode(i2d_RSAPrivateKey, r);
  Check(!key.empty(), "a Netscape key encodes");
  const int n = WriteNet(r, nullptr, sgckey);
  Bytes record(static_cast<size_t>(n > 0 ? n : 0));
  unsigned char* w = record.data();
  Check(n > 0 && WriteNet(r, &w, sgckey) == n, "a Netscape key is written");
  const unsigned char* q = record.data();
  RSA* again = ReadNet(&q, n, sgckey);
  Check(again != nullptr && Encode(i2d_RSAPrivateKey, again) == key, "the record reads back");
  RSA_free(again);
  RSA_free(r);
}

// Digest NIDs and their lengths: MD5, SHA-1, SHA-256, SHA-384, SHA-512,
// SHA-224, MD5-SHA1, MD2.
const int kDigests[] = {4, 64, 672, 673, 674, 675, 114, 3};
const size_t kDigestLengths[] = {16, 20, 32, 48, 64, 28, 36, 16};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static RSA* const key = FixedKey();
  FuzzInput in(data, size);
  const int which = in.ConsumeIntegralInRange<int>(0, 5);
  const int digest = in.ConsumeIntegralInRange<int>(0, 7);
  const int dtype = kDigests[digest];
  const std::string rest = in.ConsumeBytesAsString(in.remaining_bytes());
  const Bytes bytes(rest.begin(), rest.end());
  const size_t k = static_cast<size_t>(RSA_size(key));
  ERR_clear_error();
  switch (which) {
    case 0:
      RoundTrip(d2i_RSAPrivateKey, i2d_RSAPrivateKey, bytes);
      break;
    case 1:
      RoundTrip(d2i_RSAPublicKey, i2d_RSAPublicKey, bytes);
      break;
    case 2: {  // the bytes as a signature, the message its first 32 bytes
      Bytes sig(bytes);
      sig.resize(k);
      Bytes m(bytes.begin(),
              bytes.begin() + static_cast<long>(bytes.size() < 32 ? bytes.size() : 32));
      const int r = RSA_verify(dtype, m.data(), static_cast<unsigned>(m.size()), sig.data(),
                               static_cast<unsigned>(sig.size()), key);
      Check(r == 0 || r == 1, "verify result");
      const int s =
          RSA_verify_ASN1_OCTET_STRING(dtype, m.data(), static_cast<unsigned>(m.size()), sig.data(),
                                       static_cast<unsigned>(sig.size()), key);
      Check(s == 0 || s == 1, "octet string verify result");
      break;
    }
    case 3:
    case 4: {  // the bytes as the signed block
      if (bytes.size() > k - 11) break;
      Bytes sig(k);
      const int n = RSA_private_encrypt(static_cast<int>(bytes.size()), bytes.data(), sig.data(),
                                        key, RSA_PKCS1_PADDING);
      if (n != static_cast<int>(k)) break;
      // The message: the block's last bytes, as many as the digest has.
      size_t mlen = kDigestLengths[digest];
      if (mlen > bytes.size()) mlen = bytes.size();
      const Bytes m(bytes.end() - static_cast<long>(mlen), bytes.end());
      if (which == 3) {
        const int r = RSA_verify(dtype, m.data(), static_cast<unsigned>(m.size()), sig.data(),
                                 static_cast<unsigned>(k), key);
        Check(r == 0 || r == 1, "verify result");
        if (r == 1 && dtype != 114) {
          // DER: SEQUENCE { SEQUENCE { OID, NULL? }, OCTET STRING m } with
          // short lengths, so the block is m plus 2 + 2 + 2 + 2 + oid (+ 2).
          Check(bytes[0] == 0x30 && bytes[2] == 0x30 && bytes[4] == 0x06, "DigestInfo shape");
          const size_t oid = bytes[5];
          const size_t bare = 8 + oid + mlen;
          Check(bytes.size() == bare || bytes.size() == bare + 2, "DigestInfo length");
          Check(bytes[1] == bytes.size() - 2, "DigestInfo outer length");
        }
        if (r == 1 && dtype == 114) Check(bytes == m, "MD5-SHA1 block");
      } else {
        const int r = RSA_verify_ASN1_OCTET_STRING(dtype, m.data(), static_cast<unsigned>(m.size()),
                                                   sig.data(), static_cast<unsigned>(k), key);
        Check(r == 0 || r == 1, "octet string verify result");
        if (r == 1)
          Check(bytes.size() == mlen + 2 && bytes[0] == 4 && bytes[1] == mlen, "OCTET STRING");
      }
      break;
    }
    case 5:
      Netscape(bytes, digest & 1);
      break;
  }
  ERR_clear_error();
  return 0;
}
