/* Morvane: the DES interface of the library's older generation.
 *
 * Every function here forwards to the DES_ function of des.h named in its
 * comment group (or, for the two seeding calls, to RAND_seed with the 8 bytes
 * of the block), passing its arguments unchanged and in the same order and
 * returning the target's result; nothing is added.  The old types are the
 * same memory as the new ones: `_qarn_old_des_cblock` is a DES_cblock, and an
 * old key schedule, an array of 16 `struct _qarn_old_des_ks_struct`, is a
 * DES_key_schedule, so a schedule made through either interface serves both.
 * The process-wide switches of des.h (DES_check_key, DES_rw_mode) apply.
 * The old pass-phrase readers of the prompt interface are in ui.h.
 *
 * Null arguments: as in des.h, keys, schedules, data and IVs must point to
 * valid memory. */
#ifndef MORVANE_DES_OLD_H
#define MORVANE_DES_OLD_H

#include <morvane/des.h>
#include <morvane/export.h>

MORVANE_BEGIN_DECLS

typedef unsigned char _qarn_old_des_cblock[8];

/* One round entry of an old-style schedule. */
struct _qarn_old_des_ks_struct {
  union {
    _qarn_old_des_cblock cblock;
    DES_LONG deslong[2];
  } ks;
};
/* A whole schedule; as a function argument it is a pointer to its first
 * entry. */
typedef struct _qarn_old_des_ks_struct _qarn_old_des_key_schedule[16];

MORVANE_EXPORT const char *_qarn_old_des_options(void);

/* Block functions: DES_encrypt1, DES_encrypt2, DES_encrypt3, DES_decrypt3,
 * DES_ecb_encrypt, DES_ecb3_encrypt. */
MORVANE_EXPORT void _qarn_old_des_encrypt(DES_LONG *data, _qarn_old_des_key_schedule ks, int enc);
MORVANE_EXPORT void _qarn_old_des_encrypt2(DES_LONG *data, _qarn_old_des_key_schedule ks, int enc);
MORVANE_EXPORT void _qarn_old_des_encrypt3(DES_LONG *data, _qarn_old_des_key_schedule ks1,
                                           _qarn_old_des_key_schedule ks2,
                                           _qarn_old_des_key_schedule ks3);
MORVANE_EXPORT void _qarn_old_des_decrypt3(DES_LONG *data, _qarn_old_des_key_schedule ks1,
                                           _qarn_old_des_key_schedule ks2,
                                           _qarn_old_des_key_schedule ks3);
MORVANE_EXPORT void _qarn_old_des_ecb_encrypt(_qarn_old_des_cblock *input,
                                              _qarn_old_des_cblock *output,
                                              _qarn_old_des_key_schedule ks, int enc);
MORVANE_EXPORT void _qarn_old_des_ecb3_encrypt(_qarn_old_des_cblock *input,
                                               _qarn_old_des_cblock *output,
                                               _qarn_old_des_key_schedule ks1,
                                               _qarn_old_des_key_schedule ks2,
                                               _qarn_old_des_key_schedule ks3, int enc);

/* Single-DES modes: DES_cbc_encrypt, DES_ncbc_encrypt, DES_xcbc_encrypt,
 * DES_pcbc_encrypt, DES_cfb_encrypt, DES_cfb64_encrypt, DES_ofb_encrypt,
 * DES_ofb64_encrypt. */
MORVANE_EXPORT void _qarn_old_des_cbc_encrypt(_qarn_old_des_cblock *input,
                                              _qarn_old_des_cblock *output, long length,
                                              _qarn_old_des_key_schedule schedule,
                                              _qarn_old_des_cblock *ivec, int enc);
MORVANE_EXPORT void _qarn_old_des_ncbc_encrypt(_qarn_old_des_cblock *input,
                                               _qarn_old_des_cblock *output, long length,
                                               _qarn_old_des_key_schedule schedule,
                                               _qarn_old_des_cblock *ivec, int enc);
MORVANE_EXPORT void _qarn_old_des_xcbc_encrypt(_qarn_old_des_cblock *input,
                                               _qarn_old_des_cblock *output, long length,
                                               _qarn_old_des_key_schedule schedule,
                                               _qarn_old_des_cblock *ivec,
                                               _qarn_old_des_cblock *inw,
                                               _qarn_old_des_cblock *outw, int enc);
MORVANE_EXPORT void _qarn_old_des_pcbc_encrypt(_qarn_old_des_cblock *input,
                                               _qarn_old_des_cblock *output, long length,
                                               _qarn_old_des_key_schedule schedule,
                                               _qarn_old_des_cblock *ivec, int enc);
MORVANE_EXPORT void _qarn_old_des_cfb_encrypt(const unsigned char *in, unsigned char *out,
                                              int numbits, long length,
                                              _qarn_old_des_key_schedule schedule,
                                              _qarn_old_des_cblock *ivec, int enc);
MORVANE_EXPORT void _qarn_old_des_cfb64_encrypt(const unsigned char *in, unsigned char *out,
                                                long length, _qarn_old_des_key_schedule schedule,
                                                _qarn_old_des_cblock *ivec, int *num, int enc);
MORVANE_EXPORT void _qarn_old_des_ofb_encrypt(const unsigned char *in, unsigned char *out,
                                              int numbits, long length,
                                              _qarn_old_des_key_schedule schedule,
                                              _qarn_old_des_cblock *ivec);
MORVANE_EXPORT void _qarn_old_des_ofb64_encrypt(const unsigned char *in, unsigned char *out,
                                                long length, _qarn_old_des_key_schedule schedule,
                                                _qarn_old_des_cblock *ivec, int *num);

/* Triple-DES modes: DES_ede3_cbc_encrypt, DES_ede3_cfb64_encrypt,
 * DES_ede3_ofb64_encrypt. */
MORVANE_EXPORT void _qarn_old_des_ede3_cbc_encrypt(_qarn_old_des_cblock *input,
                                                   _qarn_old_des_cblock *output, long length,
                                                   _qarn_old_des_key_schedule ks1,
                                                   _qarn_old_des_key_schedule ks2,
                                                   _qarn_old_des_key_schedule ks3,
                                                   _qarn_old_des_cblock *ivec, int enc);
MORVANE_EXPORT void _qarn_old_des_ede3_cfb64_encrypt(const unsigned char *in, unsigned char *out,
                                                     long length, _qarn_old_des_key_schedule ks1,
                                                     _qarn_old_des_key_schedule ks2,
                                                     _qarn_old_des_key_schedule ks3,
                                                     _qarn_old_des_cblock *ivec, int *num, int enc);
MORVANE_EXPORT void _qarn_old_des_ede3_ofb64_encrypt(const unsigned char *in, unsigned char *out,
                                                     long length, _qarn_old_des_key_schedule ks1,
                                                     _qarn_old_des_key_schedule ks2,
                                                     _qarn_old_des_key_schedule ks3,
                                                     _qarn_old_des_cblock *ivec, int *num);

/* Checksums and keys from text: DES_cbc_cksum, DES_quad_cksum,
 * DES_string_to_key, DES_string_to_2keys. */
MORVANE_EXPORT DES_LONG _qarn_old_des_cbc_cksum(_qarn_old_des_cblock *input,
                                                _qarn_old_des_cblock *output, long length,
                                                _qarn_old_des_key_schedule schedule,
                                                _qarn_old_des_cblock *ivec);
MORVANE_EXPORT DES_LONG _qarn_old_des_quad_cksum(_qarn_old_des_cblock *input,
                                                 _qarn_old_des_cblock *output, long length,
                                                 int out_count, _qarn_old_des_cblock *seed);
MORVANE_EXPORT void _qarn_old_des_string_to_key(const char *str, _qarn_old_des_cblock *key);
MORVANE_EXPORT void _qarn_old_des_string_to_2keys(const char *str, _qarn_old_des_cblock *key1,
                                                  _qarn_old_des_cblock *key2);

/* Keys from pass phrases: DES_read_password, DES_read_2passwords. */
MORVANE_EXPORT int _qarn_old_des_read_password(_qarn_old_des_cblock *key, const char *prompt,
                                               int verify);
MORVANE_EXPORT int _qarn_old_des_read_2passwords(_qarn_old_des_cblock *key1,
                                                 _qarn_old_des_cblock *key2, const char *prompt,
                                                 int verify);

/* Encrypted stream records: DES_enc_read, DES_enc_write. */
MORVANE_EXPORT int _qarn_old_des_enc_read(int fd, void *buf, int len,
                                          _qarn_old_des_key_schedule sched,
                                          _qarn_old_des_cblock *iv);
MORVANE_EXPORT int _qarn_old_des_enc_write(int fd, const void *buf, int len,
                                           _qarn_old_des_key_schedule sched,
                                           _qarn_old_des_cblock *iv);

/* Unix crypt: DES_fcrypt, DES_crypt (twice). */
MORVANE_EXPORT char *_qarn_old_des_fcrypt(const char *buf, const char *salt, char *ret);
MORVANE_EXPORT char *_qarn_old_des_crypt(const char *buf, const char *salt);
MORVANE_EXPORT char *_qarn_old_crypt(const char *buf, const char *salt);

/* Keys: DES_set_key, DES_key_sched, DES_set_odd_parity, DES_is_weak_key,
 * DES_random_key. */
MORVANE_EXPORT int _qarn_old_des_set_key(_qarn_old_des_cblock *key,
                                         _qarn_old_des_key_schedule schedule);
MORVANE_EXPORT int _qarn_old_des_key_sched(_qarn_old_des_cblock *key,
                                           _qarn_old_des_key_schedule schedule);
MORVANE_EXPORT void _qarn_old_des_set_odd_parity(_qarn_old_des_cblock *key);
MORVANE_EXPORT int _qarn_old_des_is_weak_key(_qarn_old_des_cblock *key);
MORVANE_EXPORT int _qarn_old_des_random_key(_qarn_old_des_cblock *ret);

/* RAND_seed(key, 8). */
MORVANE_EXPORT void _qarn_old_des_random_seed(_qarn_old_des_cblock *key);
MORVANE_EXPORT void _qarn_096_des_random_seed(DES_cblock *key);

MORVANE_END_DECLS

#endif /* MORVANE_DES_OLD_H */
