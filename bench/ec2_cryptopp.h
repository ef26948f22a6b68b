// Crypto++'s ECDSA (SHA-256) and ECDH over EC2N for bench_ec2.cc, behind an
// interface of plain bytes (ec2_cryptopp.cc).
#ifndef MORVANE_BENCH_EC2_CRYPTOPP_H
#define MORVANE_BENCH_EC2_CRYPTOPP_H

#include <stddef.h>

namespace bench_ec2 {

struct CppSide;

// The key d (big-endian, dlen bytes) on the named curve ("sect233k1", ...)
// and the peer's uncompressed point for ECDH; null when Crypto++ refuses
// them.
CppSide* CppMake(const char* curve, const unsigned char* d, size_t dlen, const unsigned char* peer,
                 size_t peerlen);
void CppFree(CppSide* s);
// Signs SHA-256(msg): r || s, each as long as the order; returns the length.
size_t CppSign(CppSide* s, const unsigned char* msg, size_t len, unsigned char* sig);
size_t CppSignatureLength(const CppSide* s);
bool CppVerify(CppSide* s, const unsigned char* msg, size_t len, const unsigned char* sig,
               size_t siglen);
// The shared x coordinate with the peer point; its length, 0 on failure.
size_t CppAgree(CppSide* s, unsigned char* out);
// The public point d G, uncompressed, in len bytes.
void CppPublicPoint(const CppSide* s, unsigned char* out, size_t len);

}  // namespace bench_ec2

#endif  // MORVANE_BENCH_EC2_CRYPTOPP_H
