// The shared-object handle and its method table; only crypto/dso sees them.
#ifndef MORVANE_CRYPTO_DSO_INTERNAL_H
#define MORVANE_CRYPTO_DSO_INTERNAL_H

#include <morvane/crypto.h>
#include <morvane/dso.h>

struct dso_meth_st {
  const char* name;
  int (*dso_load)(DSO* dso);
  int (*dso_unload)(DSO* dso);
  void* (*dso_bind_var)(DSO* dso, const char* symname);
  DSO_FUNC_TYPE (*dso_bind_func)(DSO* dso, const char* symname);
  long (*dso_ctrl)(DSO* dso, int cmd, long larg, void* parg);
  char* (*dso_name_converter)(DSO* dso, const char* filename);
  char* (*dso_merger)(DSO* dso, const char* filespec1, const char* filespec2);
  int (*init)(DSO* dso);
  int (*finish)(DSO* dso);
};

struct dso_st {
  DSO_METHOD* meth;
  STACK* meth_data;  // the method's own data (a loader's handles)
  int references;    // lock 28
  int flags;         // bit 1: take file names as given
  CRYPTO_EX_DATA ex_data;
  char* (*name_converter)(DSO* dso, const char* filename);  // overrides the method's
  char* (*merger)(DSO* dso, const char* filespec1, const char* filespec2);
  char* filename;         // the name given by the caller
  char* loaded_filename;  // the name a method loaded
};

#endif  // MORVANE_CRYPTO_DSO_INTERNAL_H
