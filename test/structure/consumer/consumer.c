/* A minimal program using the installed library. */
#include <stdio.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/stack.h>

int main(void) {
  STACK *sk = sk_new_null();
  char *p;
  int ok;
  if (sk == NULL) return 1;
  sk_push(sk, (char *)"x");
  ok = sk_num(sk) == 1;
  sk_free(sk);
  p = (char *)CRYPTO_malloc(4, __FILE__, __LINE__);
  if (p == NULL) return 1;
  memcpy(p, "abc", 4);
  MORVANE_cleanse(p, 4);
  CRYPTO_free(p);
  if (!ok) return 1;
  puts("ok");
  return 0;
}
