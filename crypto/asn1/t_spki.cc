// The text form of Netscape signed public keys and challenges (SPKAC):
// the key, the challenge and the signature; a write that fails or is short
// ends the printer with 0.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/x509.h>

#include "asn1/internal.h"

/* see morvane/x509.h */
int NETSCAPE_SPKI_print(BIO* out, NETSCAPE_SPKI* spki) {
  X509_PUBKEY* key = spki->spkac->pubkey;
  if (!morvane::asn1::put_whole(out, "Netscape SPKI:\n") ||
      BIO_printf(out, "  Public Key Algorithm: %s\n",
                 morvane::asn1::algorithm_name(key->algor, "UNKNOWN")) <= 0)
    return 0;
  static constexpr morvane::asn1::KeyLayout kLayout = {2, 2, "Unable to load public key", false,
                                                       "EC Public Key:"};
  if (!morvane::asn1::print_key_section(
          out, [key] { return X509_PUBKEY_get(key); }, kLayout))
    return 0;
  const ASN1_IA5STRING* chal = spki->spkac->challenge;
  if (chal != nullptr && chal->length > 0 &&
      BIO_printf(out, "  Challenge String: %.*s\n", chal->length,
                 reinterpret_cast<const char*>(chal->data)) <= 0)
    return 0;
  if (BIO_printf(out, "  Signature Algorithm: %s",
                 morvane::asn1::algorithm_name(spki->sig_algor, "UNKNOWN")) <= 0 ||
      !morvane::asn1::print_sig_bytes(out, spki->signature, "\n      "))
    return 0;
  return 1;
}
