// Proxy certificate information (RFC 3820, 3.8): the path length limit and
// the proxy policy, printed as text and built from a list of settings or
// configuration sections.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

ASN1_SEQUENCE(PROXY_POLICY) = {
    ASN1_SIMPLE(PROXY_POLICY, policyLanguage, ASN1_OBJECT),
    ASN1_OPT(PROXY_POLICY, policy, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(PROXY_POLICY);

ASN1_SEQUENCE(PROXY_CERT_INFO_EXTENSION) = {
    ASN1_OPT(PROXY_CERT_INFO_EXTENSION, pcPathLengthConstraint, ASN1_INTEGER),
    ASN1_SIMPLE(PROXY_CERT_INFO_EXTENSION, proxyPolicy, PROXY_POLICY),
} ASN1_SEQUENCE_END(PROXY_CERT_INFO_EXTENSION);

namespace {

using morvane::x509v3::value_context;

constexpr int kNidInheritAll = 665;    // id-ppl-inheritAll
constexpr int kNidIndependent = 667;   // id-ppl-independent
constexpr int kFileChunk = 64 * 1024;
constexpr int kMaxPolicyFile = 64 * 1024 * 1024;  // octets of a policy:file: source

int i2r_pci(const X509V3_EXT_METHOD* /*method*/, void* value, BIO* out, int indent) {
  auto* pci = static_cast<PROXY_CERT_INFO_EXTENSION*>(value);
  if (BIO_printf(out, "%*sPath Length Constraint: ", indent, "") < 0) return 0;
  if (pci->pcPathLengthConstraint != nullptr) {
    if (i2a_ASN1_INTEGER(out, pci->pcPathLengthConstraint) <= 0) return 0;
  } else if (BIO_puts(out, "infinite") <= 0) {
    return 0;
  }
  if (BIO_puts(out, "\n") <= 0 ||
      BIO_printf(out, "%*sPolicy Language: ", indent, "") < 0 ||
      i2a_ASN1_OBJECT(out, pci->proxyPolicy->policyLanguage) <= 0 || BIO_puts(out, "\n") <= 0)
    return 0;
  const ASN1_OCTET_STRING* policy = pci->proxyPolicy->policy;
  if (policy != nullptr && policy->data != nullptr &&
      BIO_printf(out, "%*sPolicy Text: %.*s\n", indent, "", policy->length,
                 reinterpret_cast<const char*>(policy->data)) < 0)
    return 0;
  return 1;
}

// Appends n bytes to the policy, which stays followed by a zero byte.
bool append(ASN1_OCTET_STRING* policy, const void* data, size_t n) {
  const size_t old = static_cast<size_t>(policy->length);
  if (n > INT_MAX - old) return false;
  auto* joined = static_cast<unsigned char*>(MORVANE_malloc(old + n + 1));
  if (joined == nullptr) return false;
  if (old > 0) memcpy(joined, policy->data, old);
  if (n > 0) memcpy(joined + old, data, n);
  const bool ok = ASN1_STRING_set(policy, joined, static_cast<int>(old + n)) != 0;
  MORVANE_free(joined);
  return ok;
}

// The whole content of the file name appended to the policy.
bool append_file(ASN1_OCTET_STRING* policy, const char* name, const CONF_VALUE* val) {
  BIO* in = BIO_new_file(name, "r");
  if (in == nullptr) {
    X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_BIO_LIB);
    value_context(val);
    return false;
  }
  // Read into one buffer that grows geometrically, then appended once: the
  // work is linear in the file.  A file past kMaxPolicyFile (a device that
  // never ends, say) is refused, not cut.
  BUF_MEM* buf = BUF_MEM_new();
  int used = 0, n = 0;
  bool ok = buf != nullptr;
  if (!ok) X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_MALLOC_FAILURE);
  while (ok) {
    if (used > kMaxPolicyFile) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_INVALID_LENGTH);
      value_context(val);
      ok = false;
      break;
    }
    if (!BUF_MEM_grow(buf, used + kFileChunk)) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_MALLOC_FAILURE);
      ok = false;
      break;
    }
    if ((n = BIO_read(in, buf->data + used, kFileChunk)) <= 0) break;
    used += n;
  }
  if (ok && n < 0) {
    X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_BIO_LIB);
    value_context(val);
    ok = false;
  }
  if (ok && !append(policy, buf->data, static_cast<size_t>(used))) {
    X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_MALLOC_FAILURE);
    ok = false;
  }
  BUF_MEM_free(buf);
  BIO_free_all(in);
  return ok;
}

// The policy bytes of a "policy" setting: hex:, file: or text: source.
bool append_policy(ASN1_OCTET_STRING* policy, const CONF_VALUE* val) {
  const char* value = val->value;
  if (strncmp(value, "hex:", 4) == 0) {
    long len = 0;
    unsigned char* bytes = string_to_hex(value + 4, &len);
    if (bytes == nullptr) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_ILLEGAL_HEX_DIGIT);
      value_context(val);
      return false;
    }
    const bool ok = append(policy, bytes, static_cast<size_t>(len));
    MORVANE_free(bytes);
    if (!ok) X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_MALLOC_FAILURE);
    return ok;
  }
  if (strncmp(value, "file:", 5) == 0) return append_file(policy, value + 5, val);
  if (strncmp(value, "text:", 5) == 0) {
    if (!append(policy, value + 5, strlen(value + 5))) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_MALLOC_FAILURE);
      return false;
    }
    return true;
  }
  X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_INCORRECT_POLICY_SYNTAX_TAG);
  value_context(val);
  return false;
}

// What the build gathers before it makes the value.
struct PciParts {
  ASN1_OBJECT* language = nullptr;
  ASN1_INTEGER* pathlen = nullptr;
  ASN1_OCTET_STRING* policy = nullptr;
};

// One name:value setting; names other than language, pathlen and policy
// are ignored.
bool process_pci_value(const CONF_VALUE* val, PciParts* parts) {
  if (val->name == nullptr || val->value == nullptr) {
    X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_INVALID_PROXY_POLICY_SETTING);
    value_context(val);
    return false;
  }
  if (strcmp(val->name, "language") == 0) {
    if (parts->language != nullptr) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_POLICY_LANGUAGE_ALREADTY_DEFINED);
      value_context(val);
      return false;
    }
    if ((parts->language = OBJ_txt2obj(val->value, 0)) == nullptr) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_INVALID_OBJECT_IDENTIFIER);
      value_context(val);
      return false;
    }
  } else if (strcmp(val->name, "pathlen") == 0) {
    if (parts->pathlen != nullptr) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_POLICY_PATH_LENGTH_ALREADTY_DEFINED);
      value_context(val);
      return false;
    }
    if (!X509V3_get_value_int(const_cast<CONF_VALUE*>(val), &parts->pathlen)) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, X509V3_R_POLICY_PATH_LENGTH);
      value_context(val);
      return false;
    }
  } else if (strcmp(val->name, "policy") == 0) {
    const bool made = parts->policy == nullptr;
    if (made && (parts->policy = ASN1_OCTET_STRING_new()) == nullptr) {
      X509V3err(X509V3_F_PROCESS_PCI_VALUE, ERR_R_MALLOC_FAILURE);
      return false;
    }
    if (!append_policy(parts->policy, val)) {
      if (made) {
        ASN1_OCTET_STRING_free(parts->policy);
        parts->policy = nullptr;
      }
      return false;
    }
  }
  return true;
}

void* r2i_pci(const X509V3_EXT_METHOD* /*method*/, X509V3_CTX* ctx, const char* value) {
  PciParts parts;
  PROXY_CERT_INFO_EXTENSION* pci = nullptr;
  STACK* vals = value != nullptr ? X509V3_parse_list(value) : nullptr;
  for (int i = 0; i < sk_num(vals); i++) {
    auto* cnf = reinterpret_cast<CONF_VALUE*>(sk_value(vals, i));
    if (cnf->name == nullptr || (cnf->name[0] != '@' && cnf->value == nullptr)) {
      X509V3err(X509V3_F_R2I_PCI, X509V3_R_INVALID_PROXY_POLICY_SETTING);
      value_context(cnf);
      goto err;
    }
    if (cnf->name[0] == '@') {
      STACK* sect = X509V3_get_section(ctx, cnf->name + 1);
      if (sect == nullptr) {
        X509V3err(X509V3_F_R2I_PCI, X509V3_R_INVALID_SECTION);
        value_context(cnf);
        goto err;
      }
      bool ok = true;
      for (int j = 0; ok && j < sk_num(sect); j++)
        ok = process_pci_value(reinterpret_cast<CONF_VALUE*>(sk_value(sect, j)), &parts);
      X509V3_section_free(ctx, sect);
      if (!ok) goto err;
    } else if (!process_pci_value(cnf, &parts)) {
      goto err;
    }
  }
  if (parts.language == nullptr) {
    X509V3err(X509V3_F_R2I_PCI, X509V3_R_NO_PROXY_CERT_POLICY_LANGUAGE_DEFINED);
    goto err;
  }
  {
    const int nid = OBJ_obj2nid(parts.language);
    if ((nid == kNidInheritAll || nid == kNidIndependent) && parts.policy != nullptr) {
      X509V3err(X509V3_F_R2I_PCI, X509V3_R_POLICY_WHEN_PROXY_LANGUAGE_REQUIRES_NO_POLICY);
      goto err;
    }
  }
  if ((pci = PROXY_CERT_INFO_EXTENSION_new()) == nullptr) {
    X509V3err(X509V3_F_R2I_PCI, ERR_R_MALLOC_FAILURE);
    goto err;
  }
  ASN1_OBJECT_free(pci->proxyPolicy->policyLanguage);
  pci->proxyPolicy->policyLanguage = parts.language;
  ASN1_OCTET_STRING_free(pci->proxyPolicy->policy);
  pci->proxyPolicy->policy = parts.policy;
  ASN1_INTEGER_free(pci->pcPathLengthConstraint);
  pci->pcPathLengthConstraint = parts.pathlen;
  sk_pop_free(vals, morvane::x509v3::free_conf_value);
  return pci;

err:
  ASN1_OBJECT_free(parts.language);
  ASN1_INTEGER_free(parts.pathlen);
  ASN1_OCTET_STRING_free(parts.policy);
  sk_pop_free(vals, morvane::x509v3::free_conf_value);
  return nullptr;
}

constexpr X509V3_EXT_METHOD pci_method() {
  X509V3_EXT_METHOD m = {};
  m.ext_nid = 663;
  m.it = &PROXY_CERT_INFO_EXTENSION_it;
  m.i2r = i2r_pci;
  m.r2i = r2i_pci;
  return m;
}

}  // namespace

constinit const X509V3_EXT_METHOD v3_pci = pci_method();
