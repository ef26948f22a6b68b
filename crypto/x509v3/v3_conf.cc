// The configuration database of the extension builders' context: reading
// sections and strings through the context's method.

#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

namespace {

// A CONF as database; what it returns belongs to it.
char* nconf_get_string(void* db, const char* section, const char* name) {
  return NCONF_get_string(static_cast<const CONF*>(db), section, name);
}

STACK* nconf_get_section(void* db, const char* section) {
  return NCONF_get_section(static_cast<const CONF*>(db), section);
}

constexpr X509V3_CONF_METHOD nconf_method = {nconf_get_string, nconf_get_section, nullptr,
                                             nullptr};

}  // namespace

/* see morvane/x509v3.h */
void X509V3_set_nconf(X509V3_CTX* ctx, CONF* conf) {
  ctx->db_meth = &nconf_method;
  ctx->db = conf;
}

/* see morvane/x509v3.h */
STACK* X509V3_get_section(X509V3_CTX* ctx, const char* section) {
  if (ctx->db == nullptr || ctx->db_meth == nullptr || ctx->db_meth->get_section == nullptr) {
    X509V3err(X509V3_F_X509V3_GET_SECTION, X509V3_R_OPERATION_NOT_DEFINED);
    return nullptr;
  }
  return ctx->db_meth->get_section(ctx->db, section);
}

/* see morvane/x509v3.h */
void X509V3_section_free(X509V3_CTX* ctx, STACK* section) {
  if (section == nullptr) return;
  if (ctx->db_meth != nullptr && ctx->db_meth->free_section != nullptr)
    ctx->db_meth->free_section(ctx->db, section);
}
