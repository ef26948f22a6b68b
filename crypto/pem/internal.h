// What the PEM sources share: the names of private-key blocks with the key
// type of each traditional form, and the rule by which a reader that wants
// one block name accepts another.
#ifndef MORVANE_PEM_INTERNAL_H
#define MORVANE_PEM_INTERNAL_H

#include <stdio.h>

#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>

#include "internal/err_mark.h"

namespace morvane::pem {

// True when `enc` fits the armour's fixed areas: an IV of at most 16 bytes
// (EVP_CIPHER_INFO, the salt), a key of at most 32 (the derived key), blocks
// of at most 16 bytes (the writer's spare room for the padding).
bool cipher_fits(const EVP_CIPHER* enc);

// The pass phrase from cb, or from PEM_def_callback when cb is null, called
// with (buf, PEM_BUFSIZE, w, u); its length, or 0 when there is none (a
// result of 0 or less, or one past the buffer).
int get_pass_phrase(char* buf, int w, pem_password_cb* cb, void* u);

// Frees the three buffers of a block read by PEM_read_bio, wiping the
// len bytes of data first; each may be null.
void free_block(char* name, char* header, unsigned char* data, long len);

// A private-key block name and the EVP_PKEY type of the key it holds in the
// algorithm's own (traditional) form; 0 for the PKCS#8 forms, whose key
// type is inside the structure.
struct PrivateKeyName {
  const char* name;
  int pkey_type;
};

inline constexpr PrivateKeyName kPrivateKeyNames[] = {
    {"ENCRYPTED PRIVATE KEY", 0},      {"PRIVATE KEY", 0},
    {"RSA PRIVATE KEY", EVP_PKEY_RSA}, {"DSA PRIVATE KEY", EVP_PKEY_DSA},
    {"EC PRIVATE KEY", EVP_PKEY_EC},
};

// The entry of kPrivateKeyNames named `name`, or null.
const PrivateKeyName* find_private_key_name(const char* name);

// True when a block named `found` satisfies a reader that wants `wanted`:
// the same name, or one of the pairs the typed readers accept ("ANY PRIVATE
// KEY" takes every private-key name above).
bool check_pem(const char* found, const char* wanted);

// Whether e, the newest error of a failed PEM_read_bio, tells of a broken
// block (no proper end line, a body that is not base64): the reader has
// gone past its begin line, so a loader may read on after it.
inline bool broken_block(unsigned long e) {
  return ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_FUNC(e) == PEM_F_PEM_READ_BIO &&
         (ERR_GET_REASON(e) == PEM_R_BAD_END_LINE || ERR_GET_REASON(e) == PEM_R_BAD_BASE64_DECODE);
}

// What a failed PEM_read_bio (or a typed reader built on it) tells a
// loader that reads a stream block after block, by the entries queued
// since read_mark, set just before the read: the normal end of the input
// ("no start line" alone), a broken block it may read on after (one reason
// that broken_block accepts, or none: a block whose body decodes to
// nothing, for which "empty block" is queued here), or a failure.  A stream
// that failed, queuing an error of its own or not, makes the reader fail
// with "BIO lib", which is neither an end nor a broken block.
enum class ReadEnd { kEnd, kBrokenBlock, kFailed };

inline ReadEnd read_end(const morvane::internal::ErrorMark& read_mark) {
  const int count = read_mark.count();
  if (count == 0) {
    PEMerr(PEM_F_PEM_READ_BIO, PEM_R_EMPTY_BLOCK);
    return ReadEnd::kBrokenBlock;
  }
  if (count != 1) return ReadEnd::kFailed;
  const unsigned long e = ERR_peek_last_error();
  if (ERR_GET_REASON(e) == PEM_R_NO_START_LINE) return ReadEnd::kEnd;
  return broken_block(e) ? ReadEnd::kBrokenBlock : ReadEnd::kFailed;
}

// PEM_X509_INFO_read_bio (into a new stack) for a loader that takes what
// it can: a broken block, or a certificate, revocation-list or key block
// that does not decode (or decrypt), is passed over, its reasons left on
// the queue, and counted in *unread; a stream that fails otherwise before
// its end ends the read with the
// records read so far, its reasons queued and *ended false (true when the
// input was read to its end).  Null (queued) only when memory runs short.
STACK* read_info_lenient(BIO* bp, pem_password_cb* cb, void* u, int* unread, bool* ended);

// The FILE forms: `op(bio)` on a file stream over fp, which stays open;
// `failure` with "BUF lib" under `func` when the stream cannot be made.
template <class R, class Op>
R on_file(FILE* fp, int func, R failure, Op op) {
  BIO* b = BIO_new_fp(fp, BIO_NOCLOSE);
  if (b == nullptr) {
    PEMerr(func, ERR_R_BUF_LIB);
    return failure;
  }
  const R ret = op(b);
  BIO_free(b);
  return ret;
}

}  // namespace morvane::pem

#endif  // MORVANE_PEM_INTERNAL_H
