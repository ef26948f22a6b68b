// RC4: the RFC 6229 keystreams, pieces of any size, the key-length rules and
// the empty key.

#include <climits>
#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <morvane/rc4.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

// RFC 6229, section 2: 16 keystream bytes at each of these offsets.
constexpr size_t kOffsets[18] = {0,    16,   240,  256,  496,  512,  752,  768,  1008,
                                 1024, 1520, 1536, 2032, 2048, 3056, 3072, 4080, 4096};

struct Rfc6229 {
  const char* key;
  const char* stream[18];
};

// The first set's 40- to 256-bit keys, and the second set's 40- and 256-bit
// keys.
// clang-format off
constexpr Rfc6229 kRfc6229[] = {
    {"0102030405",
     {"b2396305f03dc027ccc3524a0a1118a8", "6982944f18fc82d589c403a47a0d0919",
      "28cb1132c96ce286421dcaadb8b69eae", "1cfcf62b03eddb641d77dfcf7f8d8c93",
      "42b7d0cdd918a8a33dd51781c81f4041", "6459844432a7da923cfb3eb4980661f6",
      "ec10327bde2beefd18f9277680457e22", "eb62638d4f0ba1fe9fca20e05bf8ff2b",
      "45129048e6a0ed0b56b490338f078da5", "30abbcc7c20b01609f23ee2d5f6bb7df",
      "3294f744d8f9790507e70f62e5bbceea", "d8729db41882259bee4f825325f5a130",
      "1eb14a0c13b3bf47fa2a0ba93ad45b8b", "cc582f8ba9f265e2b1be9112e975d2d7",
      "f2e30f9bd102ecbf75aaade9bc35c43c", "ec0e11c479dc329dc8da7968fe965681",
      "068326a2118416d21f9d04b2cd1ca050", "ff25b58995996707e51fbdf08b34d875"}},
    {"01020304050607",
     {"293f02d47f37c9b633f2af5285feb46b", "e620f1390d19bd84e2e0fd752031afc1",
      "914f02531c9218810df60f67e338154c", "d0fdb583073ce85ab83917740ec011d5",
      "75f81411e871cffa70b90c74c592e454", "0bb87202938dad609e87a5a1b079e5e4",
      "c2911246b612e7e7b903dfeda1dad866", "32828f91502b6291368de8081de36fc2",
      "f3b9a7e3b297bf9ad804512f9063eff1", "8ecb67a9ba1f55a5a067e2b026a3676f",
      "d2aa902bd42d0d7cfd340cd45810529f", "78b272c96e42eab4c60bd914e39d06e3",
      "f4332fd31a079396ee3cee3f2a4ff049", "05459781d41fda7f30c1be7e1246c623",
      "adfd3868b8e51485d5e610017e3dd609", "ad26581c0c5be45f4cea01db2f3805d5",
      "f3172ceffc3b3d997c85ccd5af1a950c", "e74b0b9731227fd37c0ec08a47ddd8b8"}},
    {"0102030405060708",
     {"97ab8a1bf0afb96132f2f67258da15a8", "8263efdb45c4a18684ef87e6b19e5b09",
      "9636ebc9841926f4f7d1f362bddf6e18", "d0a990ff2c05fef5b90373c9ff4b870a",
      "73239f1db7f41d80b643c0c52518ec63", "163b319923a6bdb4527c626126703c0f",
      "49d6c8af0f97144a87df21d91472f966", "44173a103b6616c5d5ad1cee40c863d0",
      "273c9c4b27f322e4e716ef53a47de7a4", "c6d0e7b226259fa9023490b26167ad1d",
      "1fe8986713f07c3d9ae1c163ff8cf9d3", "8369e1a965610be887fbd0c79162aafb",
      "0a0127abb44484b9fbef5abcae1b579f", "c2cdadc6402e8ee866e1f37bdb47e42c",
      "26b51ea37df8e1d6f76fc3b66a7429b3", "bc7683205d4f443dc1f29dda3315c87b",
      "d5fa5a3469d29aaaf83d23589db8c85b", "3fb46e2c8f0f068edce8cdcd7dfc5862"}},
    {"0102030405060708090a",
     {"ede3b04643e586cc907dc21851709902", "03516ba78f413beb223aa5d4d2df6711",
      "3cfd6cb58ee0fdde640176ad0000044d", "48532b21fb6079c9114c0ffd9c04a1ad",
      "3e8cea98017109979084b1ef92f99d86", "e20fb49bdb337ee48b8d8dc0f4afeffe",
      "5c2521eacd7966f15e056544bea0d315", "e067a7031931a246a6c3875d2f678acb",
      "a64f70af88ae56b6f87581c0e23e6b08", "f449031de312814ec6f319291f4a0516",
      "bdae85924b3cb1d0a2e33a30c6d79599", "8a0feddbac865a09bcd127fb562ed60a",
      "b55a0a5b51a12a8be34899c3e047511a", "d9a09cea3ce75fe39698070317a71339",
      "552225ed1177f44584ac8cfa6c4eb5fc", "7e82cbabfc95381b080998442129c2f8",
      "1f135ed14ce60a91369d2322bef25e3c", "08b6be45124a43e2eb77953f84dc8553"}},
    {"0102030405060708090a0b0c0d0e0f10",
     {"9ac7cc9a609d1ef7b2932899cde41b97", "5248c4959014126a6e8a84f11d1a9e1c",
      "065902e4b620f6cc36c8589f66432f2b", "d39d566bc6bce3010768151549f3873f",
      "b6d1e6c4a5e4771cad79538df295fb11", "c68c1d5c559a974123df1dbc52a43b89",
      "c5ecf88de897fd57fed301701b82a259", "eccbe13de1fcc91c11a0b26c0bc8fa4d",
      "e7a72574f8782ae26aabcf9ebcd66065", "bdf0324e6083dcc6d3cedd3ca8c53c16",
      "b40110c4190b5622a96116b0017ed297", "ffa0b514647ec04f6306b892ae661181",
      "d03d1bc03cd33d70dff9fa5d71963ebd", "8a44126411eaa78bd51e8d87a8879bf5",
      "fabeb76028ade2d0e48722e46c4615a3", "c05d88abd50357f935a63c59ee537623",
      "ff38265c1642c1abe8d3c2fe5e572bf8", "a36a4c301ae8ac13610ccbc12256cacc"}},
    {"0102030405060708090a0b0c0d0e0f101112131415161718",
     {"0595e57fe5f0bb3c706edac8a4b2db11", "dfde31344a1af769c74f070aee9e2326",
      "b06b9b1e195d13d8f4a7995c4553ac05", "6bd2378ec341c9a42f37ba79f88a32ff",
      "e70bce1df7645adb5d2c4130215c3522", "9a5730c7fcb4c9af51ffda89c7f1ad22",
      "0485055fd4f6f0d963ef5ab9a5476982", "591fc66bcda10e452b03d4551f6b62ac",
      "2753cc83988afa3e1688a1d3b42c9a02", "93610d523d1d3f0062b3c2a3bbc7c7f0",
      "96c248610aadedfeaf8978c03de8205a", "0e317b3d1c73b9e9a4688f296d133a19",
      "bdf0e6c3cca5b5b9d533b69c56ada120", "88a218b6e2ece1e6246d44c759d19b10",
      "6866397e95c140534f94263421006e40", "32cb0a1e9542c6b3b8b398abc3b0f1d5",
      "29a0b8aed54a132324c62e423f54b4c8", "3cb0f3b5020a98b82af9fe154484a168"}},
    {"0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20",
     {"eaa6bd25880bf93d3f5d1e4ca2611d91", "cfa45c9f7e714b54bdfa80027cb14380",
      "114ae344ded71b35f2e60febad727fd8", "02e1e7056b0f623900496422943e97b6",
      "91cb93c787964e10d9527d999c6f936b", "49b18b42f8e8367cbeb5ef104ba1c7cd",
      "87084b3ba700bade955610672745b374", "e7a7b9e9ec540d5ff43bdb12792d1b35",
      "c799b596738f6b018c76c74b1759bd90", "7fec5bfd9f9b89ce6548309092d7e958",
      "40f250b26d1f096a4afd4c340a588815", "3e34135c79db010200767651cf263073",
      "f656abccf88dd827027b2ce917d464ec", "18b62503bfbc077fbabb98f20d98ab34",
      "8aed95ee5b0dcbfbef4eb21d3a3f52f9", "625a1ab00ee39a5327346bddb01a9c18",
      "a13a7c79c7e119b5ab0296ab28c300b9", "f3e4c0a2e02d1d01f7f0a74618af2b48"}},
    {"833222772a",
     {"80ad97bdc973df8a2e879e92a497efda", "20f060c2f2e5126501d3d4fea10d5fc0",
      "faa148e99046181fec6b2085f3b20ed9", "f0daf5bab3d596839857846f73fbfe5a",
      "1c7e2fc4639232fe297584b296996bc8", "3db9b249406cc8edffac55ccd322ba12",
      "e4f9f7e0066154bbd125b745569bc897", "75d5ef262b44c41a9cf63ae14568e1b9",
      "6da453dbf81e82334a3d8866cb50a1e3", "7828d074119cab5c22b294d7a9bfa0bb",
      "adb89cea9a15fbe617295bd04b8ca05c", "6251d87fd4aaae9a7e4ad5c217d3f300",
      "e7119bd6dd9b22afe8f89585432881e2", "785b60fd7ec4e9fcb6545f350d660fab",
      "afecc037fdb7b0838eb3d70bcd268382", "dbc1a7b49d57358cc9fa6d61d73b7cf0",
      "6349d126a37afcba89794f9804914fdc", "bf42c3018c2f7c66bfde524975768115"}},
    {"1ada31d5cf688221c109163908ebe51debb46227c6cc8b37641910833222772a",
     {"dd5bcb0018e922d494759d7c395d02d3", "c8446f8f77abf737685353eb89a1c9eb",
      "af3e30f9c095045938151575c3fb9098", "f8cb6274db99b80b1d2012a98ed48f0e",
      "25c3005a1cb85de076259839ab7198ab", "9dcbc183e8cb994b727b75be3180769c",
      "a1d3078dfa9169503ed9d4491dee4eb2", "8514a5495858096f596e4bcd66b10665",
      "5f40d59ec1b03b33738efa60b2255d31", "3477c7f764a41baceff90bf14f92b7cc",
      "ac4e95368d99b9eb78b8da8f81ffa795", "8c3c13f8c2388bb73f38576e65b7c446",
      "13c4b9c1dfb66579eddd8a280b9f7316", "ddd27820550126698efaadc64b64f66e",
      "f08f2e66d28ed143f3a237cf9de73559", "9ea36c525531b880ba124334f57b0b70",
      "d5a39e3dfcc50280bac4a6b5aa0dca7d", "370b1c1fe655916d97fd0d47ca1d72b8"}},
};
// clang-format on

RC4_KEY Keyed(const Bytes& key) {
  RC4_KEY k;
  RC4_set_key(&k, static_cast<int>(key.size()), key.data());
  return k;
}

bool SameState(const RC4_KEY& a, const RC4_KEY& b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

TEST(Rc4, Rfc6229Keystreams) {
  for (const Rfc6229& v : kRfc6229) {
    RC4_KEY k = Keyed(FromHex(v.key));
    const Bytes zeros(4112, 0);
    Bytes stream(zeros.size());
    RC4(&k, zeros.size(), zeros.data(), stream.data());
    for (size_t i = 0; i < 18; i++)
      EXPECT_EQ(ToHex(&stream[kOffsets[i]], 16), v.stream[i]) << v.key << " @" << kOffsets[i];
  }
}

TEST(Rc4, PiecesContinueOneKeystream) {
  std::mt19937 rng(11);
  Bytes msg(1000);
  for (auto& b : msg) b = static_cast<uint8_t>(rng());
  RC4_KEY whole = Keyed(FromHex("0102030405060708090A0B0C0D0E0F10"));
  RC4_KEY split = whole;
  Bytes a(msg.size()), b(msg.size());
  RC4(&whole, msg.size(), msg.data(), a.data());
  const size_t sizes[] = {1, 7, 8, 9, 100};
  size_t off = 0;
  for (size_t i = 0; off < msg.size(); i++) {
    const size_t n = std::min(sizes[i % 5], msg.size() - off);
    RC4(&split, n, msg.data() + off, b.data() + off);
    off += n;
  }
  EXPECT_EQ(a, b);
  EXPECT_TRUE(SameState(whole, split));
}

TEST(Rc4, ZeroLengthChangesNothing) {
  RC4_KEY k = Keyed(FromHex("0102030405"));
  RC4(&k, 13, Bytes(13).data(), Bytes(13).data());
  const RC4_KEY before = k;
  uint8_t out = 0x42;
  RC4(&k, 0, nullptr, &out);
  EXPECT_EQ(out, 0x42);
  EXPECT_TRUE(SameState(k, before));
}

TEST(Rc4, InPlaceRoundTrip) {
  const RC4_KEY fresh = Keyed(FromHex("833222772A"));
  Bytes msg(77);
  for (size_t i = 0; i < msg.size(); i++) msg[i] = static_cast<uint8_t>(i * 3);
  Bytes buf = msg, out(msg.size());
  RC4_KEY a = fresh, b = fresh, c = fresh;
  RC4(&a, buf.size(), buf.data(), out.data());
  RC4(&b, buf.size(), buf.data(), buf.data());
  EXPECT_EQ(buf, out);
  RC4(&c, buf.size(), buf.data(), buf.data());
  EXPECT_EQ(buf, msg);
}

TEST(Rc4, KeyLengthRules) {
  Bytes key(300);
  for (size_t i = 0; i < key.size(); i++) key[i] = static_cast<uint8_t>(i * 11 + 3);
  EXPECT_TRUE(SameState(Keyed(key), Keyed(Bytes(key.begin(), key.begin() + 256))));
  EXPECT_TRUE(SameState(Keyed({0x9C}), Keyed(Bytes(256, 0x9C))));
}

// An empty or negative length reads no key byte and gives the state of the
// one-byte key 0x00.
TEST(Rc4, EmptyKeyIsTheZeroByteKey) {
  const RC4_KEY zero = Keyed({0x00});
  for (int len : {0, -1, INT_MIN}) {
    RC4_KEY k;
    RC4_set_key(&k, len, nullptr);
    EXPECT_TRUE(SameState(k, zero)) << len;
  }
}

TEST(Rc4, Texts) {
  EXPECT_STREQ(RC4_options(), "rc4(ptr,int)");
  EXPECT_STREQ(RC4_version, "RC4 part of Morvane 0.9.8o 01 Jun 2010");
}

}  // namespace
