// Crypto++'s side of the binary-curve benchmark (bench_ec2.cc): ECDSA with
// SHA-256 over EC2N and ECDH over EC2N (without the cofactor, as
// ECDH_compute_key), on a key and peer point handed over as bytes.  In a
// file of its own so that Crypto++'s headers and Morvane's never meet in one
// translation unit.

#include "ec2_cryptopp.h"

#include <string.h>

#include <cryptopp/eccrypto.h>
#include <cryptopp/ec2n.h>
#include <cryptopp/integer.h>
#include <cryptopp/oids.h>
#include <cryptopp/osrng.h>
#include <cryptopp/sha.h>

namespace bench_ec2 {

namespace {

CryptoPP::OID CurveOid(const char* name) {
  using namespace CryptoPP::ASN1;
  if (strcmp(name, "sect233k1") == 0) return sect233k1();
  if (strcmp(name, "sect233r1") == 0) return sect233r1();
  if (strcmp(name, "sect283k1") == 0) return sect283k1();
  return sect283r1();
}

}  // namespace

struct CppSide {
  CryptoPP::AutoSeededRandomPool rng;
  CryptoPP::ECDSA<CryptoPP::EC2N, CryptoPP::SHA256>::Signer signer;
  CryptoPP::ECDSA<CryptoPP::EC2N, CryptoPP::SHA256>::Verifier verifier;
  CryptoPP::ECDH<CryptoPP::EC2N, CryptoPP::NoCofactorMultiplication>::Domain dh;
  CryptoPP::SecByteBlock priv;
  CryptoPP::SecByteBlock peer;
  explicit CppSide(const char* curve) : dh(CurveOid(curve)) {}
};

CppSide* CppMake(const char* curve, const unsigned char* d, size_t dlen, const unsigned char* peer,
                 size_t peerlen) {
  auto* s = new CppSide(curve);
  const CryptoPP::Integer x(d, dlen);
  s->signer.AccessKey().Initialize(CurveOid(curve), x);
  s->signer.AccessKey().MakePublicKey(s->verifier.AccessKey());
  if (!s->signer.AccessKey().Validate(s->rng, 3) || !s->verifier.AccessKey().Validate(s->rng, 3) ||
      s->dh.PrivateKeyLength() < dlen || s->dh.PublicKeyLength() != peerlen) {
    delete s;
    return nullptr;
  }
  s->priv.CleanNew(s->dh.PrivateKeyLength());
  x.Encode(s->priv.BytePtr(), s->priv.SizeInBytes());
  s->peer.Assign(peer, peerlen);
  return s;
}

void CppFree(CppSide* s) {
  delete s;
}

size_t CppSign(CppSide* s, const unsigned char* msg, size_t len, unsigned char* sig) {
  return s->signer.SignMessage(s->rng, msg, len, sig);
}

size_t CppSignatureLength(const CppSide* s) {
  return s->signer.MaxSignatureLength();
}

bool CppVerify(CppSide* s, const unsigned char* msg, size_t len, const unsigned char* sig,
               size_t siglen) {
  return s->verifier.VerifyMessage(msg, len, sig, siglen);
}

size_t CppAgree(CppSide* s, unsigned char* out) {
  if (!s->dh.Agree(out, s->priv, s->peer)) return 0;
  return s->dh.AgreedValueLength();
}

void CppPublicPoint(const CppSide* s, unsigned char* out, size_t len) {
  const CryptoPP::EC2N::Point& q = s->verifier.GetKey().GetPublicElement();
  const size_t half = (len - 1) / 2;
  out[0] = 4;
  q.x.Encode(out + 1, half);
  q.y.Encode(out + 1 + half, half);
}

}  // namespace bench_ec2
