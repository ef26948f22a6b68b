// What a signature of signed data covers: content of a type other than data
// is digested by its contents octets (RFC 2315, 9.3), the contentType
// attribute must name the content's type (RFC 2315, 9.2; RFC 5652, 11.1),
// and a digest list that names one digest many times builds one filter per
// digest.  Also messages made by a peer (test/data/pkcs7/README.md).

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <time.h>

#include <string>
#include <vector>

#include "pkcs7_fixture.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::ErrorsAre;
using namespace pkcs7_test;

constexpr int kLib = ERR_LIB_PKCS7;

std::string Text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

constexpr const char* kOtherType = "1.2.3.4.5";
constexpr const char* kUnknownPkcs7Type = "1.2.840.113549.1.7.99";
// SEQUENCE { UTF8String "original" } and SEQUENCE { UTF8String "ATTACK!" }
// (X.690), and their contents octets: what a signature over each covers.
const Bytes kOriginal = morvane_test::FromHex("300a0c086f726967696e616c");
const Bytes kAttack = morvane_test::FromHex("30090c0741545441434b21");
const std::string kOriginalOctets = Text(morvane_test::FromHex("0c086f726967696e616c"));
const std::string kAttackOctets = Text(morvane_test::FromHex("0c0741545441434b21"));
// The content of the peer's messages (test/data/pkcs7/README.md).
const std::string kPeerContent = "Peer content line one\r\nline two\r\n";

const morvane_test::ErrEntry kVerifyFailed = {kLib, PKCS7_F_PKCS7_VERIFY,
                                              PKCS7_R_SIGNATURE_FAILURE};
const std::vector<morvane_test::ErrEntry> kBadRsaSignature = {
    {ERR_LIB_RSA, RSA_F_RSA_VERIFY, RSA_R_BAD_SIGNATURE},
    {kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_FAILURE},
    kVerifyFailed};
const std::vector<morvane_test::ErrEntry> kDigestMismatch = {
    {kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DIGEST_FAILURE}, kVerifyFailed};
const std::vector<morvane_test::ErrEntry> kTypeMismatch = {
    {kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_CONTENT_TYPE_MISMATCH}, kVerifyFailed};

// An inner content of type `oid` holding the DER value `value`.
PKCS7* OtherContent(const char* oid, const Bytes& value) {
  const unsigned char* p = value.data();
  ASN1_TYPE* t = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(value.size()));
  EXPECT_NE(t, nullptr);
  PKCS7* inner = PKCS7_new();
  PKCS7_set0_type_other(inner, 0, t);
  ASN1_OBJECT_free(inner->type);
  inner->type = OBJ_txt2obj(oid, 1);
  return inner;
}

// Gives the data content of signed data `p7` the type `oid`, holding the
// same octet string.
void Retype(PKCS7* p7, const char* oid) {
  PKCS7* inner = p7->d.sign->contents;
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_TYPE_set(t, ASN1_UT_OCTET_STRING, inner->d.data);
  ASN1_OBJECT_free(inner->type);
  inner->type = OBJ_txt2obj(oid, 1);
  inner->d.other = t;
}

// The message as a receiver decodes it from its DER.
PKCS7* Reread(PKCS7* p7) {
  const std::vector<unsigned char> der = Der(p7);
  const unsigned char* p = der.data();
  PKCS7* back = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  EXPECT_NE(back, nullptr);
  return back;
}

PKCS7* PeerMessage(const std::string& name) {
  const Bytes der = morvane_test::ReadFileBytes(morvane_test::TestDataFile("pkcs7/" + name));
  const unsigned char* p = der.data();
  PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  EXPECT_NE(p7, nullptr) << name;
  return p7;
}

// PKCS7_verify without chain checks: its result, what it wrote in *out.
int Verify(PKCS7* p7, std::string* out = nullptr, BIO* indata = nullptr) {
  BIO* b = BIO_new(BIO_s_mem());
  const int r = PKCS7_verify(p7, nullptr, nullptr, indata, b, PKCS7_FLAG_NO_VERIFY);
  if (out != nullptr) *out = MemText(b);
  BIO_free(b);
  return r;
}

// The same after the message went through S/MIME text.
int VerifyThroughMime(PKCS7* p7) {
  BIO* mime = BIO_new(BIO_s_mem());
  EXPECT_EQ(SMIME_write_PKCS7(mime, p7, nullptr, PKCS7_FLAG_BINARY), 1);
  BIO* bcont = nullptr;
  PKCS7* back = SMIME_read_PKCS7(mime, &bcont);
  EXPECT_NE(back, nullptr);
  const int r = back != nullptr ? Verify(back, nullptr, bcont) : -1;
  BIO_free(bcont);
  PKCS7_free(back);
  BIO_free(mime);
  return r;
}

// PKCS7_sign of `content` by user `user`, bytes unchanged.
PKCS7* SignBytes(const std::string& content, int user, int flags) {
  BIO* in = MemOf(content);
  PKCS7* p7 = PKCS7_sign(UserCert(user), UserKey(user), nullptr, in, flags | PKCS7_FLAG_BINARY);
  BIO_free(in);
  EXPECT_NE(p7, nullptr);
  return p7;
}

// Signs the signer's attributes again with user 0's key over SHA-1, so that
// they say what a case needs.
void Resign(PKCS7_SIGNER_INFO* si) {
  unsigned char* der = nullptr;
  const int n =
      ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &der, &PKCS7_ATTR_SIGN_it);
  ASSERT_GT(n, 0);
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  unsigned char sig[512];
  unsigned int len = 0;
  ASSERT_TRUE(EVP_SignInit_ex(&ctx, EVP_sha1(), nullptr));
  ASSERT_TRUE(EVP_SignUpdate(&ctx, der, static_cast<size_t>(n)));
  ASSERT_TRUE(EVP_SignFinal(&ctx, sig, &len, UserKey(0)));
  EVP_MD_CTX_cleanup(&ctx);
  MORVANE_free(der);
  ASSERT_TRUE(ASN1_STRING_set(si->enc_digest, sig, static_cast<int>(len)));
}

void NameContentType(PKCS7_SIGNER_INFO* si, const char* oid) {
  ASSERT_TRUE(PKCS7_add_signed_attribute(si, 50, ASN1_UT_OBJECT, OBJ_txt2obj(oid, 1)));
}

void DropContentType(PKCS7_SIGNER_INFO* si) {
  for (int i = 0; i < sk_num(si->auth_attr); i++) {
    auto* a = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i));
    if (OBJ_obj2nid(a->object) == 50) {
      X509_ATTRIBUTE_free(reinterpret_cast<X509_ATTRIBUTE*>(sk_delete(si->auth_attr, i)));
      return;
    }
  }
  ADD_FAILURE() << "no contentType";
}

// Signed data over `inner` (taken over) by user 0 with SHA-1, made as a
// signer of content that sits in the message makes it: the chain read to
// its end (what it gave in *read), then the final.  With `attributes` the
// signer starts with signingTime alone, and the final adds the rest.
PKCS7* SignInner(PKCS7* inner, bool attributes, std::string* read) {
  PKCS7* p7 = PKCS7_new();
  EXPECT_TRUE(PKCS7_set_type(p7, 22));
  EXPECT_TRUE(PKCS7_set_content(p7, inner));
  PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1());
  EXPECT_NE(si, nullptr);
  EXPECT_TRUE(PKCS7_add_certificate(p7, UserCert(0)));
  if (attributes) {
    EXPECT_TRUE(PKCS7_add_signed_attribute(si, 52, ASN1_UT_UTCTIME,
                                           ASN1_UTCTIME_set(nullptr, time(nullptr))));
  }
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  EXPECT_NE(chain, nullptr);
  *read = ReadAll(chain);
  EXPECT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  return p7;
}

std::string Sha1(const std::string& s) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EXPECT_TRUE(EVP_Digest(s.data(), s.size(), md, &n, EVP_sha1(), nullptr));
  return std::string(reinterpret_cast<char*>(md), n);
}

std::string Octets(const ASN1_STRING* s) {
  return std::string(reinterpret_cast<const char*>(s->data), static_cast<size_t>(s->length));
}

// ---- content of another type -------------------------------------------------

// Signed and verified over the contents octets of its value, through both
// chains; other content in its place fails.
TEST(SignedContent, OtherTypeIsDigestedByItsContentsOctets) {
  for (bool attributes : {false, true}) {
    SCOPED_TRACE(attributes ? "with signed attributes" : "without signed attributes");
    std::string read;
    PKCS7* p7 = SignInner(OtherContent(kOtherType, kOriginal), attributes, &read);
    EXPECT_EQ(read, kOriginalOctets);
    PKCS7_SIGNER_INFO* si = Signer(p7, 0);
    if (attributes) {
      // The final named the content's type and digested its octets.
      const ASN1_TYPE* named = PKCS7_get_signed_attribute(si, 50);
      ASSERT_NE(named, nullptr);
      ASSERT_EQ(named->type, ASN1_UT_OBJECT);
      EXPECT_EQ(OBJ_cmp(named->value.object, p7->d.sign->contents->type), 0);
      EXPECT_EQ(Octets(PKCS7_digest_from_attributes(si->auth_attr)), Sha1(kOriginalOctets));
    }
    PKCS7* back = Reread(p7);
    std::string out;
    EXPECT_EQ(Verify(back, &out), 1) << morvane_test::DrainErrors();
    EXPECT_EQ(out, kOriginalOctets);
    BIO* chain = PKCS7_dataDecode(back, nullptr, nullptr, nullptr);
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(ReadAll(chain), kOriginalOctets);
    EXPECT_EQ(PKCS7_signatureVerify(chain, back, Signer(back, 0), UserCert(0)), 1);
    BIO_free_all(chain);

    PKCS7_set_content(back, OtherContent(kOtherType, kAttack));
    EXPECT_EQ(Verify(back, &out), 0);
    EXPECT_EQ(out, kAttackOctets);
    EXPECT_TRUE(ErrorsAre(attributes ? kDigestMismatch : kBadRsaSignature));
    PKCS7_free(back);
    PKCS7_free(p7);
  }
}

// A signature over empty content verified nothing of the content that took
// its place: the signature of an empty message, its content then replaced by
// one of type 1.2.3.4.5, read from DER and from S/MIME text.
TEST(SignedContent, SignatureOverEmptyContentCoversNoOtherContent) {
  struct Row {
    const char* name;
    int flags;
    bool name_other_type;  // attributes re-signed naming 1.2.3.4.5
    std::vector<morvane_test::ErrEntry> errors;
  } rows[] = {
      {"no attributes", PKCS7_FLAG_NO_ATTRIBUTES, false, kBadRsaSignature},
      {"attributes naming data", 0, false, kTypeMismatch},
      {"attributes naming the new type", 0, true, kDigestMismatch},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PKCS7* p7 = SignBytes("", 0, r.flags);
    ASSERT_NE(p7, nullptr);
    ASSERT_EQ(Verify(p7), 1);
    PKCS7_set_content(p7, OtherContent(kOtherType, kAttack));
    if (r.name_other_type) {
      NameContentType(Signer(p7, 0), kOtherType);
      Resign(Signer(p7, 0));
    }
    PKCS7* back = Reread(p7);
    EXPECT_EQ(Verify(back), 0);
    EXPECT_TRUE(ErrorsAre(r.errors));
    EXPECT_EQ(VerifyThroughMime(p7), 0);
    EXPECT_TRUE(ErrorsAre(r.errors));
    PKCS7_free(back);
    PKCS7_free(p7);
  }
}

// Content whose value has an indefinite length (BER) has no contents octets
// of a DER encoding to digest: both chains refuse it.
TEST(SignedContent, ContentWithoutDerEncodingIsRefused) {
  std::string read;
  PKCS7* p7 = SignInner(OtherContent(kOtherType, kAttack), false, &read);
  PKCS7_set_content(p7,
                    OtherContent(kOtherType, morvane_test::FromHex("30800c0741545441434b210000")));
  EXPECT_EQ(Verify(p7), 0);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DATAINIT, PKCS7_R_UNSUPPORTED_CONTENT_TYPE}}));
  EXPECT_EQ(PKCS7_dataDecode(p7, nullptr, nullptr, nullptr), nullptr);
  EXPECT_TRUE(ErrorsAre({{kLib, PKCS7_F_PKCS7_DATADECODE, PKCS7_R_UNSUPPORTED_CONTENT_TYPE}}));
  PKCS7_free(p7);
}

// Nested signed data is content of a typed record: the outer signature
// covers the contents octets of the inner SignedData's DER.
TEST(SignedContent, NestedSignedDataIsDigestedByItsDer) {
  PKCS7* inner = SignBytes("inner words", 1, 0);
  ASSERT_NE(inner, nullptr);
  unsigned char* der = nullptr;
  const int n = i2d_PKCS7_SIGNED(inner->d.sign, &der);
  ASSERT_GT(n, 4);
  ASSERT_EQ(der[0], 0x30);
  ASSERT_EQ(der[1], 0x82);  // two length octets
  const std::string octets(reinterpret_cast<char*>(der) + 4, static_cast<size_t>(n - 4));
  MORVANE_free(der);

  std::string read;
  PKCS7* p7 = SignInner(inner, true, &read);
  EXPECT_EQ(read, octets);
  EXPECT_EQ(OBJ_obj2nid(PKCS7_get_signed_attribute(Signer(p7, 0), 50)->value.object), 22);
  PKCS7* back = Reread(p7);
  EXPECT_EQ(Verify(back), 1) << morvane_test::DrainErrors();
  // Another inner message in its place.
  PKCS7_set_content(back, SignBytes("other words", 1, 0));
  EXPECT_EQ(Verify(back), 0);
  EXPECT_TRUE(ErrorsAre(kDigestMismatch));
  PKCS7_free(back);
  PKCS7_free(p7);
}

// ---- the contentType attribute ----------------------------------------------

// Signed data, ours and the peer's, whose data content is given another
// type: with signed attributes the contentType attribute no longer names it
// and the message fails; without them nothing signed names the type (the
// peer accepts that message too).
TEST(SignedContent, ContentTypeAttributeMustNameTheContentsType) {
  struct Row {
    const char* name;
    bool peer;
    bool attributes;
  } rows[] = {{"ours", false, true},
              {"ours, no attributes", false, false},
              {"peer", true, true},
              {"peer, no attributes", true, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PKCS7* p7 = nullptr;
    std::string content = kPeerContent;
    if (r.peer) {
      p7 = PeerMessage(r.attributes ? "peer_signed_attrs.der" : "peer_signed.der");
    } else {
      content = "Line one\r\n";
      p7 = SignBytes(content, 0, r.attributes ? 0 : PKCS7_FLAG_NO_ATTRIBUTES);
    }
    ASSERT_NE(p7, nullptr);
    EXPECT_EQ(sk_num(Signer(p7, 0)->auth_attr) > 0, r.attributes);
    Retype(p7, kUnknownPkcs7Type);
    PKCS7* back = Reread(p7);
    std::string out;
    if (r.attributes) {
      EXPECT_EQ(Verify(back, &out), 0);
      EXPECT_TRUE(ErrorsAre(kTypeMismatch));
      BIO* chain = PKCS7_dataDecode(back, nullptr, nullptr, nullptr);
      ReadAll(chain);
      PKCS7_SIGNER_INFO* si = Signer(back, 0);
      EXPECT_EQ(PKCS7_signatureVerify(chain, back, si, PKCS7_cert_from_signer_info(back, si)), -1);
      EXPECT_TRUE(
          ErrorsAre({{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_CONTENT_TYPE_MISMATCH}}));
      BIO_free_all(chain);
    } else {
      EXPECT_EQ(Verify(back, &out), 1);
    }
    EXPECT_EQ(out, content);
    PKCS7_free(back);
    PKCS7_free(p7);
  }
}

// Signed attributes without contentType still verify over data (as a writer
// that left it out meant), but bind no type to content of another type.
TEST(SignedContent, AttributesWithoutContentTypeCoverDataOnly) {
  PKCS7* p7 = SignBytes("Line one\r\n", 0, 0);
  ASSERT_NE(p7, nullptr);
  DropContentType(Signer(p7, 0));
  Resign(Signer(p7, 0));
  PKCS7* back = Reread(p7);
  EXPECT_EQ(Verify(back), 1) << morvane_test::DrainErrors();
  PKCS7_free(back);

  std::string read;
  PKCS7* other = SignInner(OtherContent(kOtherType, kOriginal), true, &read);
  EXPECT_EQ(Verify(other), 1);
  DropContentType(Signer(other, 0));
  Resign(Signer(other, 0));
  back = Reread(other);
  EXPECT_EQ(Verify(back), 0);
  EXPECT_TRUE(
      ErrorsAre({{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_NO_CONTENT_TYPE}, kVerifyFailed}));
  PKCS7_free(back);
  PKCS7_free(other);
  PKCS7_free(p7);
}

// One messageDigest attribute with one value (RFC 5652, 11.2): a second
// attribute, or a second value, naming the digest of other content fails
// the signer whichever comes first (the first one used to decide).
TEST(SignedContent, OneMessageDigestOnly) {
  unsigned char other[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  ASSERT_TRUE(EVP_Digest("other", 5, other, &n, EVP_sha1(), nullptr));
  for (bool second_value : {false, true}) {
    SCOPED_TRACE(second_value);
    PKCS7* p7 = SignBytes("Line one\r\n", 0, 0);
    PKCS7_SIGNER_INFO* si = Signer(p7, 0);
    ASN1_OCTET_STRING* md = ASN1_OCTET_STRING_new();
    ASSERT_TRUE(ASN1_OCTET_STRING_set(md, other, static_cast<int>(n)));
    if (second_value) {
      ASN1_TYPE* t = ASN1_TYPE_new();
      ASN1_TYPE_set(t, ASN1_UT_OCTET_STRING, md);
      for (int i = 0; i < sk_num(si->auth_attr); i++) {
        auto* a = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i));
        if (OBJ_obj2nid(a->object) == 51) sk_push(a->value.set, reinterpret_cast<char*>(t));
      }
    } else {
      sk_push(si->auth_attr,
              reinterpret_cast<char*>(X509_ATTRIBUTE_create(51, ASN1_UT_OCTET_STRING, md)));
    }
    Resign(si);
    PKCS7* back = Reread(p7);
    EXPECT_EQ(Verify(back), 0);
    EXPECT_TRUE(ErrorsAre(
        {{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DUPLICATE_MESSAGE_DIGEST}, kVerifyFailed}));
    PKCS7_free(back);
    PKCS7_free(p7);
  }
}

// In signed-and-enveloped data the attribute names the type of the
// encrypted content.
TEST(SignedContent, SignedAndEnvelopedNamesItsEncryptedContentsType) {
  PKCS7* p7 = PKCS7_new();
  ASSERT_TRUE(PKCS7_set_type(p7, 24));
  ASSERT_TRUE(PKCS7_set_cipher(p7, EVP_des_ede3_cbc()));
  PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1());
  ASSERT_NE(si, nullptr);
  ASSERT_TRUE(PKCS7_add_signed_attribute(si, 52, ASN1_UT_UTCTIME,
                                         ASN1_UTCTIME_set(nullptr, time(nullptr))));
  ASSERT_NE(PKCS7_add_recipient(p7, UserCert(1)), nullptr);
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  ASSERT_NE(chain, nullptr);
  BIO_write(chain, "sealed", 6);
  BIO_flush(chain);
  ASSERT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  EXPECT_EQ(OBJ_obj2nid(PKCS7_get_signed_attribute(si, 50)->value.object), 21);
  for (bool retyped : {false, true}) {
    PKCS7* back = Reread(p7);
    if (retyped) {
      ASN1_OBJECT_free(back->d.signed_and_enveloped->enc_data->content_type);
      back->d.signed_and_enveloped->enc_data->content_type = OBJ_txt2obj(kUnknownPkcs7Type, 1);
    }
    chain = PKCS7_dataDecode(back, UserKey(1), nullptr, UserCert(1));
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(ReadAll(chain), "sealed");
    EXPECT_EQ(PKCS7_signatureVerify(chain, back, Signer(back, 0), UserCert(0)), retyped ? -1 : 1);
    EXPECT_TRUE(ErrorsAre(
        retyped ? std::vector<morvane_test::ErrEntry>{{kLib, PKCS7_F_PKCS7_SIGNATUREVERIFY,
                                                       PKCS7_R_CONTENT_TYPE_MISMATCH}}
                : std::vector<morvane_test::ErrEntry>{}));
    BIO_free_all(chain);
    PKCS7_free(back);
  }
  PKCS7_free(p7);
}

// ---- the digest list ----------------------------------------------------------

// The digest filters of a chain, top first, by digest NID.
std::vector<int> DigestFilters(BIO* chain) {
  std::vector<int> nids;
  for (BIO* b = chain; b != nullptr; b = BIO_next(b)) {
    if (BIO_method_type(b) != BIO_TYPE_MD) continue;
    const EVP_MD* md = nullptr;
    BIO_get_md(b, &md);
    nids.push_back(md != nullptr ? EVP_MD_type(md) : 0);
  }
  return nids;
}

// A received message whose digest list names SHA-1 and MD5 ten thousand
// times each gets one filter per digest, and verifies.
TEST(SignedContent, RepeatedDigestAlgorithmsBuildOneFilterPerDigest) {
  PKCS7* p7 = PKCS7_new();
  ASSERT_TRUE(PKCS7_set_type(p7, 22));
  ASSERT_TRUE(PKCS7_content_new(p7, 21));
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1()), nullptr);
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(1), UserKey(1), EVP_md5()), nullptr);
  ASSERT_TRUE(PKCS7_add_certificate(p7, UserCert(0)));
  ASSERT_TRUE(PKCS7_add_certificate(p7, UserCert(1)));
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  BIO_write(chain, "content", 7);
  ASSERT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  STACK* md_algs = p7->d.sign->md_algs;
  ASSERT_EQ(sk_num(md_algs), 2);
  for (int i = 2; i < 20000; i++)
    sk_push(md_algs, reinterpret_cast<char*>(
                         X509_ALGOR_dup(reinterpret_cast<X509_ALGOR*>(sk_value(md_algs, i % 2)))));
  PKCS7* back = Reread(p7);
  ASSERT_EQ(sk_num(back->d.sign->md_algs), 20000);

  const std::vector<int> expected = {64, 4};
  chain = PKCS7_dataInit(back, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(DigestFilters(chain), expected);
  BIO_free_all(chain);
  chain = PKCS7_dataDecode(back, nullptr, nullptr, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(DigestFilters(chain), expected);
  EXPECT_EQ(ReadAll(chain), "content");
  for (int i = 0; i < 2; i++)
    EXPECT_EQ(PKCS7_signatureVerify(chain, back, Signer(back, i), UserCert(i)), 1) << i;
  BIO_free_all(chain);

  std::string out;
  EXPECT_EQ(Verify(back, &out), 1) << morvane_test::DrainErrors();
  EXPECT_EQ(out, "content");
  EXPECT_EQ(VerifyThroughMime(back), 1) << morvane_test::DrainErrors();
  PKCS7_free(back);
  PKCS7_free(p7);
}

// ---- a peer's messages ---------------------------------------------------------

TEST(SignedContent, PeerMessagesVerify) {
  for (const char* name : {"peer_signed.der", "peer_signed_attrs.der"}) {
    SCOPED_TRACE(name);
    PKCS7* p7 = PeerMessage(name);
    ASSERT_NE(p7, nullptr);
    std::string out;
    EXPECT_EQ(Verify(p7, &out), 1) << morvane_test::DrainErrors();
    EXPECT_EQ(out, kPeerContent);
    EXPECT_EQ(VerifyThroughMime(p7), 1) << morvane_test::DrainErrors();
    PKCS7_free(p7);
  }
}

}  // namespace
