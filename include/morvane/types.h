/* Morvane: forward declarations of the types that cross components, so that a
 * low-level header can name a higher-level type without including it. */
#ifndef MORVANE_TYPES_H
#define MORVANE_TYPES_H

#include <morvane/export.h>

MORVANE_BEGIN_DECLS

typedef struct stack_st STACK;
typedef struct lhash_st LHASH;
typedef struct lhash_node_st LHASH_NODE;
typedef struct buf_mem_st BUF_MEM;
typedef struct bio_st BIO;
typedef struct bio_method_st BIO_METHOD;
typedef struct crypto_ex_data_st CRYPTO_EX_DATA;
typedef struct conf_st CONF;
typedef struct conf_method_st CONF_METHOD;
typedef struct ui_st UI;
typedef struct ui_method_st UI_METHOD;
typedef struct bignum_st BIGNUM;
typedef struct bignum_ctx BN_CTX;
typedef struct bn_mont_ctx_st BN_MONT_CTX;
typedef struct bn_blinding_st BN_BLINDING;
typedef struct bn_gencb_st BN_GENCB;
typedef struct asn1_object_st ASN1_OBJECT;
typedef struct asn1_string_st ASN1_STRING;
typedef struct asn1_type_st ASN1_TYPE;
typedef struct ASN1_ITEM_st ASN1_ITEM;
typedef struct ASN1_VALUE_st ASN1_VALUE;
typedef struct asn1_method_st ASN1_METHOD;
typedef struct env_md_st EVP_MD;
typedef struct env_md_ctx_st EVP_MD_CTX;
typedef struct evp_cipher_st EVP_CIPHER;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct engine_st ENGINE;
typedef struct dso_st DSO;
typedef struct rsa_st RSA;
typedef struct dsa_st DSA;
typedef struct dh_st DH;
typedef struct ec_key_st EC_KEY;
typedef struct rsa_meth_st RSA_METHOD;
typedef struct dsa_method DSA_METHOD;
typedef struct dh_method DH_METHOD;
typedef struct ecdh_method ECDH_METHOD;
typedef struct ecdsa_method ECDSA_METHOD;
typedef struct rand_meth_st RAND_METHOD;
typedef struct store_method_st STORE_METHOD;
typedef struct x509_st X509;
typedef struct X509_name_st X509_NAME;
typedef struct X509_crl_st X509_CRL;
typedef struct X509_req_st X509_REQ;
typedef struct AUTHORITY_KEYID_st AUTHORITY_KEYID;
typedef struct X509_POLICY_CACHE_st X509_POLICY_CACHE;
typedef struct x509_store_st X509_STORE;
typedef struct x509_store_ctx_st X509_STORE_CTX;
typedef struct X509_VERIFY_PARAM_st X509_VERIFY_PARAM;
typedef struct X509_POLICY_TREE_st X509_POLICY_TREE;
typedef struct v3_ext_ctx X509V3_CTX;

MORVANE_END_DECLS

#endif /* MORVANE_TYPES_H */
