// The DES names of the library's older generation: each forwards to its
// DES_ counterpart with the arguments unchanged.  The old block and schedule
// types are the same memory as the new ones, so only pointer types change.

#include <stddef.h>

#include <morvane/des.h>
#include <morvane/des_old.h>
#include <morvane/rand.h>

namespace {

static_assert(sizeof(_qarn_old_des_key_schedule) == sizeof(DES_key_schedule));
static_assert(sizeof(struct _qarn_old_des_ks_struct) == sizeof(DES_key_schedule{}.ks[0]));
static_assert(offsetof(struct _qarn_old_des_ks_struct, ks.deslong) == 0);
static_assert(sizeof(_qarn_old_des_cblock) == sizeof(DES_cblock));

DES_key_schedule* ks(struct _qarn_old_des_ks_struct* k) {
  return reinterpret_cast<DES_key_schedule*>(k);
}

}  // namespace

/* see morvane/des_old.h */
const char* _qarn_old_des_options(void) {
  return DES_options();
}

void _qarn_old_des_encrypt(DES_LONG* data, _qarn_old_des_key_schedule k, int enc) {
  DES_encrypt1(data, ks(k), enc);
}

void _qarn_old_des_encrypt2(DES_LONG* data, _qarn_old_des_key_schedule k, int enc) {
  DES_encrypt2(data, ks(k), enc);
}

void _qarn_old_des_encrypt3(DES_LONG* data, _qarn_old_des_key_schedule ks1,
                            _qarn_old_des_key_schedule ks2, _qarn_old_des_key_schedule ks3) {
  DES_encrypt3(data, ks(ks1), ks(ks2), ks(ks3));
}

void _qarn_old_des_decrypt3(DES_LONG* data, _qarn_old_des_key_schedule ks1,
                            _qarn_old_des_key_schedule ks2, _qarn_old_des_key_schedule ks3) {
  DES_decrypt3(data, ks(ks1), ks(ks2), ks(ks3));
}

void _qarn_old_des_ecb_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                               _qarn_old_des_key_schedule k, int enc) {
  DES_ecb_encrypt(input, output, ks(k), enc);
}

void _qarn_old_des_ecb3_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                _qarn_old_des_key_schedule ks1, _qarn_old_des_key_schedule ks2,
                                _qarn_old_des_key_schedule ks3, int enc) {
  DES_ecb3_encrypt(input, output, ks(ks1), ks(ks2), ks(ks3), enc);
}

void _qarn_old_des_cbc_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                               long length, _qarn_old_des_key_schedule schedule,
                               _qarn_old_des_cblock* ivec, int enc) {
  DES_cbc_encrypt(*input, *output, length, ks(schedule), ivec, enc);
}

void _qarn_old_des_ncbc_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                long length, _qarn_old_des_key_schedule schedule,
                                _qarn_old_des_cblock* ivec, int enc) {
  DES_ncbc_encrypt(*input, *output, length, ks(schedule), ivec, enc);
}

void _qarn_old_des_xcbc_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                long length, _qarn_old_des_key_schedule schedule,
                                _qarn_old_des_cblock* ivec, _qarn_old_des_cblock* inw,
                                _qarn_old_des_cblock* outw, int enc) {
  DES_xcbc_encrypt(*input, *output, length, ks(schedule), ivec, inw, outw, enc);
}

void _qarn_old_des_pcbc_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                long length, _qarn_old_des_key_schedule schedule,
                                _qarn_old_des_cblock* ivec, int enc) {
  DES_pcbc_encrypt(*input, *output, length, ks(schedule), ivec, enc);
}

void _qarn_old_des_cfb_encrypt(const unsigned char* in, unsigned char* out, int numbits,
                               long length, _qarn_old_des_key_schedule schedule,
                               _qarn_old_des_cblock* ivec, int enc) {
  DES_cfb_encrypt(in, out, numbits, length, ks(schedule), ivec, enc);
}

void _qarn_old_des_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                 _qarn_old_des_key_schedule schedule, _qarn_old_des_cblock* ivec,
                                 int* num, int enc) {
  DES_cfb64_encrypt(in, out, length, ks(schedule), ivec, num, enc);
}

void _qarn_old_des_ofb_encrypt(const unsigned char* in, unsigned char* out, int numbits,
                               long length, _qarn_old_des_key_schedule schedule,
                               _qarn_old_des_cblock* ivec) {
  DES_ofb_encrypt(in, out, numbits, length, ks(schedule), ivec);
}

void _qarn_old_des_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                 _qarn_old_des_key_schedule schedule, _qarn_old_des_cblock* ivec,
                                 int* num) {
  DES_ofb64_encrypt(in, out, length, ks(schedule), ivec, num);
}

void _qarn_old_des_ede3_cbc_encrypt(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                    long length, _qarn_old_des_key_schedule ks1,
                                    _qarn_old_des_key_schedule ks2, _qarn_old_des_key_schedule ks3,
                                    _qarn_old_des_cblock* ivec, int enc) {
  DES_ede3_cbc_encrypt(*input, *output, length, ks(ks1), ks(ks2), ks(ks3), ivec, enc);
}

void _qarn_old_des_ede3_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                      _qarn_old_des_key_schedule ks1,
                                      _qarn_old_des_key_schedule ks2,
                                      _qarn_old_des_key_schedule ks3, _qarn_old_des_cblock* ivec,
                                      int* num, int enc) {
  DES_ede3_cfb64_encrypt(in, out, length, ks(ks1), ks(ks2), ks(ks3), ivec, num, enc);
}

void _qarn_old_des_ede3_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                                      _qarn_old_des_key_schedule ks1,
                                      _qarn_old_des_key_schedule ks2,
                                      _qarn_old_des_key_schedule ks3, _qarn_old_des_cblock* ivec,
                                      int* num) {
  DES_ede3_ofb64_encrypt(in, out, length, ks(ks1), ks(ks2), ks(ks3), ivec, num);
}

DES_LONG _qarn_old_des_cbc_cksum(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                 long length, _qarn_old_des_key_schedule schedule,
                                 _qarn_old_des_cblock* ivec) {
  return DES_cbc_cksum(*input, output, length, ks(schedule), ivec);
}

DES_LONG _qarn_old_des_quad_cksum(_qarn_old_des_cblock* input, _qarn_old_des_cblock* output,
                                  long length, int out_count, _qarn_old_des_cblock* seed) {
  return DES_quad_cksum(*input, output, length, out_count, seed);
}

void _qarn_old_des_string_to_key(const char* str, _qarn_old_des_cblock* key) {
  DES_string_to_key(str, key);
}

void _qarn_old_des_string_to_2keys(const char* str, _qarn_old_des_cblock* key1,
                                   _qarn_old_des_cblock* key2) {
  DES_string_to_2keys(str, key1, key2);
}

int _qarn_old_des_read_password(_qarn_old_des_cblock* key, const char* prompt, int verify) {
  return DES_read_password(key, prompt, verify);
}

int _qarn_old_des_read_2passwords(_qarn_old_des_cblock* key1, _qarn_old_des_cblock* key2,
                                  const char* prompt, int verify) {
  return DES_read_2passwords(key1, key2, prompt, verify);
}

int _qarn_old_des_enc_read(int fd, void* buf, int len, _qarn_old_des_key_schedule sched,
                           _qarn_old_des_cblock* iv) {
  return DES_enc_read(fd, buf, len, ks(sched), iv);
}

int _qarn_old_des_enc_write(int fd, const void* buf, int len, _qarn_old_des_key_schedule sched,
                            _qarn_old_des_cblock* iv) {
  return DES_enc_write(fd, buf, len, ks(sched), iv);
}

char* _qarn_old_des_fcrypt(const char* buf, const char* salt, char* ret) {
  return DES_fcrypt(buf, salt, ret);
}

char* _qarn_old_des_crypt(const char* buf, const char* salt) {
  return DES_crypt(buf, salt);
}

char* _qarn_old_crypt(const char* buf, const char* salt) {
  return DES_crypt(buf, salt);
}

int _qarn_old_des_set_key(_qarn_old_des_cblock* key, _qarn_old_des_key_schedule schedule) {
  return DES_set_key(key, ks(schedule));
}

int _qarn_old_des_key_sched(_qarn_old_des_cblock* key, _qarn_old_des_key_schedule schedule) {
  return DES_key_sched(key, ks(schedule));
}

void _qarn_old_des_set_odd_parity(_qarn_old_des_cblock* key) {
  DES_set_odd_parity(key);
}

int _qarn_old_des_is_weak_key(_qarn_old_des_cblock* key) {
  return DES_is_weak_key(key);
}

int _qarn_old_des_random_key(_qarn_old_des_cblock* ret) {
  return DES_random_key(ret);
}

void _qarn_old_des_random_seed(_qarn_old_des_cblock* key) {
  RAND_seed(*key, static_cast<int>(sizeof(*key)));
}

void _qarn_096_des_random_seed(DES_cblock* key) {
  RAND_seed(*key, static_cast<int>(sizeof(*key)));
}
