// Text forms of RSA keys, DSA keys and parameters, Diffie-Hellman parameters
// and elliptic-curve keys and curves, each at a caller's indent, through one
// number printer: small numbers in decimal and hex on the label's line,
// larger ones as colon-separated hex octets, 15 to a line.
//
// Implementation notes: the printers only read the keys' fields and the
// curve accessors; each sizes one scratch buffer for the octets of its
// largest number (plus a leading zero) and frees it, with every temporary,
// on every path.

#include <stdio.h>

#include <algorithm>
#include <initializer_list>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>

#include "asn1/internal.h"

using morvane::asn1::put_whole;

namespace {

constexpr int kMaxIndent = 128;
constexpr int kPerLine = 15;  // octets per line of a long number
constexpr int kNidCharacteristicTwoField = 407;

// `len` octets as "%02x" joined by ':', a newline and off + 4 blanks before
// every 15th, and a final newline.
bool hex_lines(BIO* bp, const unsigned char* p, size_t len, int off) {
  for (size_t i = 0; i < len; i++) {
    if (i % kPerLine == 0 && (BIO_write(bp, "\n", 1) != 1 || !BIO_indent(bp, off + 4, kMaxIndent)))
      return false;
    if (BIO_printf(bp, i + 1 == len ? "%02x" : "%02x:", p[i]) <= 0) return false;
  }
  return BIO_write(bp, "\n", 1) == 1;
}

// The number printer; buf holds BN_num_bytes(num) + 1 octets at least.
bool print_num(BIO* bp, const char* label, const BIGNUM* num, unsigned char* buf, int off) {
  if (num == nullptr) return true;
  if (!BIO_indent(bp, off, kMaxIndent)) return false;
  if (BN_is_zero(num)) return BIO_printf(bp, "%s 0\n", label) > 0;
  const char* sign = BN_is_negative(num) ? "-" : "";
  if (BN_num_bytes(num) <= 4) {
    const unsigned long w = BN_get_word(num);
    return BIO_printf(bp, "%s %s%lu (%s0x%lx)\n", label, sign, w, sign, w) > 0;
  }
  if (BIO_printf(bp, "%s%s", label, *sign ? " (Negative)" : "") <= 0) return false;
  buf[0] = 0;
  size_t n = static_cast<size_t>(BN_bn2bin(num, buf + 1));
  const unsigned char* p = buf + 1;
  if (buf[1] & 0x80) {  // a leading zero keeps the value positive to the eye
    p = buf;
    n++;
  }
  return hex_lines(bp, p, n, off);
}

// The curve seed: label and octets as the number printer writes them.
bool print_bin(BIO* bp, const char* label, const unsigned char* data, size_t len, int off) {
  if (data == nullptr) return true;
  if (off > kMaxIndent) off = kMaxIndent;
  return BIO_indent(bp, off, kMaxIndent) && BIO_printf(bp, "%s", label) > 0 &&
         hex_lines(bp, data, len, off);
}

size_t bytes_of(const BIGNUM* b) {
  return b == nullptr ? 0 : static_cast<size_t>(BN_num_bytes(b));
}

// A scratch buffer for the largest of the numbers plus the margin; null
// when it cannot be had.
unsigned char* scratch_for(std::initializer_list<size_t> sizes) {
  return static_cast<unsigned char*>(MORVANE_malloc(std::max(sizes) + 10));
}

int bits_of(const BIGNUM* b) {
  return b == nullptr ? 0 : BN_num_bits(b);
}

struct Label {
  const char* text;
  const BIGNUM* num;
};

// Prints the labelled numbers in order at `off`.
bool print_all(BIO* bp, std::initializer_list<Label> rows, unsigned char* buf, int off) {
  for (const Label& r : rows)
    if (!print_num(bp, r.text, r.num, buf, off)) return false;
  return true;
}

enum class Outcome { kPrinted, kNoMemory, kWriteFailed };

// A key of numbers: `title` (none when null) after `title_off` blanks, then
// the rows at `off`, through one scratch buffer sized for their numbers.
Outcome print_key(BIO* bp, const char* title, int title_off, std::initializer_list<Label> rows,
                  int off) {
  size_t m = 0;
  for (const Label& r : rows) m = std::max(m, bytes_of(r.num));
  unsigned char* buf = scratch_for({m});
  if (buf == nullptr) return Outcome::kNoMemory;
  const bool ok =
      (title == nullptr || (BIO_indent(bp, title_off, kMaxIndent) && put_whole(bp, title))) &&
      print_all(bp, rows, buf, off);
  MORVANE_free(buf);
  return ok ? Outcome::kPrinted : Outcome::kWriteFailed;
}

// The FILE form of a printer: `print` over a file stream, or 0 with the
// error (lib, func, reason) when the stream cannot be made.
template <typename T, typename... A>
int print_fp(FILE* fp, int (*print)(BIO*, T*, A...), T* x, int lib, int func, int reason,
             A... args) {
  BIO* b = morvane::asn1::new_file_bio(fp);
  if (b == nullptr) {
    ERR_put_error(lib, func, reason, __FILE__, __LINE__);
    return 0;
  }
  const int r = print(b, x, args...);
  BIO_free(b);
  return r;
}

}  // namespace

namespace morvane::asn1 {

// see asn1/internal.h
BIO* new_file_bio(FILE* fp) {
  BIO* b = BIO_new(BIO_s_file());
  if (b != nullptr) BIO_set_fp(b, fp, BIO_NOCLOSE);
  return b;
}

}  // namespace morvane::asn1

/* see morvane/rsa.h */
int RSA_print(BIO* bp, const RSA* x, int off) {
  if (x == nullptr) {
    RSAerr(RSA_F_RSA_PRINT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  char title[40], modulus[40];
  const bool priv = x->d != nullptr;
  BIO_snprintf(title, sizeof title, "Private-Key: (%d bit)\n", bits_of(x->n));
  if (priv)
    BIO_snprintf(modulus, sizeof modulus, "modulus:");
  else
    BIO_snprintf(modulus, sizeof modulus, "Modulus (%d bit):", bits_of(x->n));
  const Outcome r = print_key(bp, priv ? title : nullptr, off,
                              {{modulus, x->n},
                               {priv ? "publicExponent:" : "Exponent:", x->e},
                               {"privateExponent:", x->d},
                               {"prime1:", x->p},
                               {"prime2:", x->q},
                               {"exponent1:", x->dmp1},
                               {"exponent2:", x->dmq1},
                               {"coefficient:", x->iqmp}},
                              off);
  if (r == Outcome::kNoMemory) RSAerr(RSA_F_RSA_PRINT, ERR_R_MALLOC_FAILURE);
  return r == Outcome::kPrinted ? 1 : 0;
}

/* see morvane/rsa.h */
int RSA_print_fp(FILE* fp, const RSA* x, int off) {
  return print_fp<const RSA, int>(fp, RSA_print, x, ERR_LIB_RSA, RSA_F_RSA_PRINT_FP, ERR_R_BUF_LIB,
                                  off);
}

/* see morvane/dsa.h */
int DSA_print(BIO* bp, const DSA* x, int off) {
  if (x == nullptr || x->p == nullptr) {
    DSAerr(DSA_F_DSA_PRINT, x == nullptr ? ERR_R_PASSED_NULL_PARAMETER : DSA_R_MISSING_PARAMETERS);
    return 0;
  }
  char title[40];
  BIO_snprintf(title, sizeof title, "Private-Key: (%d bit)\n", BN_num_bits(x->p));
  const Outcome r = print_key(bp, x->priv_key != nullptr ? title : nullptr, off,
                              {{"priv:", x->priv_key},
                               {"pub: ", x->pub_key},
                               {"P:   ", x->p},
                               {"Q:   ", x->q},
                               {"G:   ", x->g}},
                              off);
  if (r == Outcome::kNoMemory) DSAerr(DSA_F_DSA_PRINT, ERR_R_MALLOC_FAILURE);
  return r == Outcome::kPrinted ? 1 : 0;
}

/* see morvane/dsa.h */
int DSA_print_fp(FILE* fp, const DSA* x, int off) {
  return print_fp<const DSA, int>(fp, DSA_print, x, ERR_LIB_DSA, DSA_F_DSA_PRINT_FP, ERR_R_BUF_LIB,
                                  off);
}

/* see morvane/dsa.h */
int DSAparams_print(BIO* bp, const DSA* x) {
  if (x == nullptr || x->p == nullptr) {
    DSAerr(DSA_F_DSAPARAMS_PRINT,
           x == nullptr ? ERR_R_PASSED_NULL_PARAMETER : DSA_R_MISSING_PARAMETERS);
    return 0;
  }
  char title[40];
  BIO_snprintf(title, sizeof title, "DSA-Parameters: (%d bit)\n", BN_num_bits(x->p));
  const Outcome r = print_key(bp, title, 0, {{"p:", x->p}, {"q:", x->q}, {"g:", x->g}}, 4);
  if (r == Outcome::kNoMemory) DSAerr(DSA_F_DSAPARAMS_PRINT, ERR_R_MALLOC_FAILURE);
  return r == Outcome::kPrinted ? 1 : 0;
}

/* see morvane/dsa.h */
int DSAparams_print_fp(FILE* fp, const DSA* x) {
  return print_fp<const DSA>(fp, DSAparams_print, x, ERR_LIB_DSA, DSA_F_DSAPARAMS_PRINT_FP,
                             ERR_R_BUF_LIB);
}

/* see morvane/dh.h */
int DHparams_print(BIO* bp, const DH* x) {
  if (x == nullptr || x->p == nullptr) {
    DHerr(DH_F_DHPARAMS_PRINT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  char title[48];
  BIO_snprintf(title, sizeof title, "Diffie-Hellman-Parameters: (%d bit)\n", BN_num_bits(x->p));
  Outcome r = print_key(bp, title, 0, {{"prime:", x->p}, {"generator:", x->g}}, 4);
  if (r == Outcome::kPrinted && x->length != 0 &&
      BIO_printf(bp, "    recommended-private-length: %d bits\n", static_cast<int>(x->length)) <= 0)
    r = Outcome::kWriteFailed;
  if (r != Outcome::kPrinted)
    DHerr(DH_F_DHPARAMS_PRINT, r == Outcome::kNoMemory ? ERR_R_MALLOC_FAILURE : ERR_R_BUF_LIB);
  return r == Outcome::kPrinted ? 1 : 0;
}

/* see morvane/dh.h */
int DHparams_print_fp(FILE* fp, const DH* x) {
  return print_fp<const DH>(fp, DHparams_print, x, ERR_LIB_DH, DH_F_DHPARAMS_PRINT_FP,
                            ERR_R_BUF_LIB);
}

/* see morvane/ec.h */
int ECPKParameters_print(BIO* bp, const EC_GROUP* x, int off) {
  int reason = ERR_R_BIO_LIB;
  BN_CTX* ctx = nullptr;
  BIGNUM *p = nullptr, *a = nullptr, *b = nullptr, *gen = nullptr, *order = nullptr,
         *cofactor = nullptr;
  unsigned char* buf = nullptr;
  if (x == nullptr) {
    reason = ERR_R_PASSED_NULL_PARAMETER;
    goto err;
  }
  if (EC_GROUP_get_asn1_flag(x)) {  // a named curve
    const int nid = EC_GROUP_get_curve_name(x);
    if (nid == 0 || !BIO_indent(bp, off, kMaxIndent) ||
        BIO_printf(bp, "ASN1 OID: %s\n", OBJ_nid2sn(nid)) <= 0)
      goto err;
    return 1;
  }
  {
    const int field = EC_METHOD_get_field_type(EC_GROUP_method_of(x));
    const bool binary = field == kNidCharacteristicTwoField;
    ctx = BN_CTX_new();
    p = BN_new();
    a = BN_new();
    b = BN_new();
    order = BN_new();
    cofactor = BN_new();
    if (ctx == nullptr || p == nullptr || a == nullptr || b == nullptr || order == nullptr ||
        cofactor == nullptr) {
      reason = ERR_R_MALLOC_FAILURE;
      goto err;
    }
    const int got =
        binary ? EC_GROUP_get_curve_GF2m(x, p, a, b, ctx) : EC_GROUP_get_curve_GFp(x, p, a, b, ctx);
    const EC_POINT* point = EC_GROUP_get0_generator(x);
    if (!got || point == nullptr || !EC_GROUP_get_order(x, order, ctx) ||
        !EC_GROUP_get_cofactor(x, cofactor, ctx)) {
      reason = ERR_R_EC_LIB;
      goto err;
    }
    const point_conversion_form_t form = EC_GROUP_get_point_conversion_form(x);
    gen = EC_POINT_point2bn(x, point, form, nullptr, ctx);
    if (gen == nullptr) {
      reason = ERR_R_EC_LIB;
      goto err;
    }
    buf = scratch_for({bytes_of(p), bytes_of(a), bytes_of(b), bytes_of(gen), bytes_of(order),
                       bytes_of(cofactor)});
    if (buf == nullptr) {
      reason = ERR_R_MALLOC_FAILURE;
      goto err;
    }
    if (!BIO_indent(bp, off, kMaxIndent) ||
        BIO_printf(bp, "Field Type: %s\n", OBJ_nid2sn(field)) <= 0)
      goto err;
    if (binary) {
      const int basis = EC_GROUP_get_basis_type(x);
      if (basis == 0) goto err;
      if (!BIO_indent(bp, off, kMaxIndent) ||
          BIO_printf(bp, "Basis Type: %s\n", OBJ_nid2sn(basis)) <= 0 ||
          !print_num(bp, "Polynomial:", p, buf, off))
        goto err;
    } else if (!print_num(bp, "Prime:", p, buf, off)) {
      goto err;
    }
    const char* gen_label = form == POINT_CONVERSION_COMPRESSED     ? "Generator (compressed):"
                            : form == POINT_CONVERSION_UNCOMPRESSED ? "Generator (uncompressed):"
                                                                    : "Generator (hybrid):";
    if (!print_all(bp,
                   {{"A:   ", a},
                    {"B:   ", b},
                    {gen_label, gen},
                    {"Order: ", order},
                    {"Cofactor: ", cofactor}},
                   buf, off) ||
        !print_bin(bp, "Seed:", EC_GROUP_get0_seed(x), EC_GROUP_get_seed_len(x), off))
      goto err;
  }
  BN_free(p);
  BN_free(a);
  BN_free(b);
  BN_free(gen);
  BN_free(order);
  BN_free(cofactor);
  BN_CTX_free(ctx);
  MORVANE_free(buf);
  return 1;
err:
  ECerr(EC_F_ECPKPARAMETERS_PRINT, reason);
  BN_free(p);
  BN_free(a);
  BN_free(b);
  BN_free(gen);
  BN_free(order);
  BN_free(cofactor);
  BN_CTX_free(ctx);
  MORVANE_free(buf);
  return 0;
}

/* see morvane/ec.h */
int ECPKParameters_print_fp(FILE* fp, const EC_GROUP* x, int off) {
  return print_fp<const EC_GROUP, int>(fp, ECPKParameters_print, x, ERR_LIB_EC,
                                       EC_F_ECPKPARAMETERS_PRINT_FP, ERR_R_BUF_LIB, off);
}

/* see morvane/ec.h */
int EC_KEY_print(BIO* bp, const EC_KEY* x, int off) {
  int reason = ERR_R_BIO_LIB;
  const EC_GROUP* group = x != nullptr ? EC_KEY_get0_group(x) : nullptr;
  BN_CTX* ctx = nullptr;
  BIGNUM *pub = nullptr, *order = nullptr;
  unsigned char* buf = nullptr;
  const BIGNUM* priv;
  if (group == nullptr) {
    reason = ERR_R_PASSED_NULL_PARAMETER;
    goto err;
  }
  ctx = BN_CTX_new();
  if (ctx == nullptr) {
    reason = ERR_R_MALLOC_FAILURE;
    goto err;
  }
  pub = EC_POINT_point2bn(group, EC_KEY_get0_public_key(x), EC_KEY_get_conv_form(x), nullptr, ctx);
  if (pub == nullptr) {
    reason = ERR_R_EC_LIB;
    goto err;
  }
  priv = EC_KEY_get0_private_key(x);
  buf = scratch_for({bytes_of(pub), bytes_of(priv)});
  if (buf == nullptr) {
    reason = ERR_R_MALLOC_FAILURE;
    goto err;
  }
  if (priv != nullptr) {
    order = BN_new();
    if (order == nullptr || !EC_GROUP_get_order(group, order, ctx) ||
        !BIO_indent(bp, off, kMaxIndent) ||
        BIO_printf(bp, "Private-Key: (%d bit)\n", BN_num_bits(order)) <= 0 ||
        !print_num(bp, "priv:", priv, buf, off))
      goto err;
  }
  if (!print_num(bp, "pub: ", pub, buf, off) || !ECPKParameters_print(bp, group, off)) goto err;
  BN_free(pub);
  BN_free(order);
  BN_CTX_free(ctx);
  MORVANE_free(buf);
  return 1;
err:
  ECerr(EC_F_EC_KEY_PRINT, reason);
  BN_free(pub);
  BN_free(order);
  BN_CTX_free(ctx);
  MORVANE_free(buf);
  return 0;
}

/* see morvane/ec.h */
int EC_KEY_print_fp(FILE* fp, const EC_KEY* x, int off) {
  return print_fp<const EC_KEY, int>(fp, EC_KEY_print, x, ERR_LIB_EC, EC_F_EC_KEY_PRINT_FP,
                                     ERR_R_BIO_LIB, off);
}

/* see morvane/ec.h */
int ECParameters_print(BIO* bp, const EC_KEY* x) {
  int reason = ERR_R_EC_LIB;
  const EC_GROUP* group = x != nullptr ? EC_KEY_get0_group(x) : nullptr;
  BIGNUM* order = nullptr;
  if (group == nullptr) {
    reason = ERR_R_PASSED_NULL_PARAMETER;
    goto err;
  }
  order = BN_new();
  if (order == nullptr) {
    reason = ERR_R_MALLOC_FAILURE;
    goto err;
  }
  if (!EC_GROUP_get_order(group, order, nullptr) ||
      BIO_printf(bp, "ECDSA-Parameters: (%d bit)\n", BN_num_bits(order)) <= 0 ||
      !ECPKParameters_print(bp, group, 4))
    goto err;
  BN_free(order);
  return 1;
err:
  ECerr(EC_F_ECPARAMETERS_PRINT, reason);
  BN_free(order);
  return 0;
}

/* see morvane/ec.h */
int ECParameters_print_fp(FILE* fp, const EC_KEY* x) {
  return print_fp<const EC_KEY>(fp, ECParameters_print, x, ERR_LIB_EC, EC_F_ECPARAMETERS_PRINT_FP,
                                ERR_R_BIO_LIB);
}
