// The random method of the constant-time programs: the built-in generator,
// its output marked undefined (secret) while a check asks for that.
#ifndef MORVANE_TEST_CT_MARKED_RAND_H
#define MORVANE_TEST_CT_MARKED_RAND_H

#include <stddef.h>

#include <morvane/rand.h>

#include "vg_requests.h"

namespace ct_rand {

inline const RAND_METHOD* g_builtin = nullptr;
inline bool g_secret = false;  // whether draws are secret now

inline int Marked(unsigned char* buf, int num, int r) {
  const size_t n = static_cast<size_t>(num > 0 ? num : 0);
  if (g_secret) VALGRIND_MAKE_MEM_UNDEFINED(buf, n);
  return r;
}
inline int Bytes(unsigned char* buf, int num) {
  return Marked(buf, num, g_builtin->bytes(buf, num));
}
inline int Pseudo(unsigned char* buf, int num) {
  return Marked(buf, num, g_builtin->pseudorand(buf, num));
}

// Puts the method in place of the built-in one, for the rest of the program
// (RAND_set_rand_method(nullptr) restores it).
inline void Install() {
  static RAND_METHOD marked;
  g_builtin = RAND_get_rand_method();
  marked = *g_builtin;
  marked.bytes = Bytes;
  marked.pseudorand = Pseudo;
  RAND_set_rand_method(&marked);
}

// f() with the generator's output secret.
template <class F>
auto Secretly(F f) {
  g_secret = true;
  const auto r = f();
  g_secret = false;
  return r;
}

}  // namespace ct_rand

#endif
