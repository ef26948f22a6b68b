/* Morvane: shared-object loading.
 *
 * Handles on shared objects loaded through a method table.  This build has
 * no shared-object loader: the only method is the null method, which loads
 * and binds nothing, so DSO_load, DSO_bind_var and DSO_bind_func fail with
 * "functionality not supported" unless the application brings a method of
 * its own.  A handle is reference-counted under static
 * lock 28 ("dso").  Failing calls queue errors of library 37 (ERR_LIB_DSO)
 * and return null or 0.
 *
 * Null arguments: a null handle is refused with "passed a null parameter"
 * (0 or null), as each function says; DSO_flags, DSO_get_method and
 * DSO_set_method refuse it without queueing an error. */
#ifndef MORVANE_DSO_H
#define MORVANE_DSO_H

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

typedef struct dso_meth_st DSO_METHOD;
/* The type of a bound function; cast it to the function's real type. */
typedef void (*DSO_FUNC_TYPE)(void);
/* A file-name converter and a path merger (results are new, the caller
 * frees them with CRYPTO_free). */
typedef char *(*DSO_NAME_CONVERTER_FUNC)(DSO *dso, const char *filename);
typedef char *(*DSO_MERGER_FUNC)(DSO *dso, const char *filespec1, const char *filespec2);

/* DSO_ctrl commands; every other goes to the method. */
#define DSO_CTRL_GET_FLAGS 1 /* the flags */
#define DSO_CTRL_SET_FLAGS 2 /* flags = larg; 0 */
#define DSO_CTRL_OR_FLAGS 3  /* flags |= larg; 0 */

/* Handle flags.  Bit 1: file names and merges are left as given. */
#define DSO_FLAG_NO_NAME_TRANSLATION 0x01

/* A loader: every slot may be null (the call then fails with "functionality
 * not supported", except init and finish, which are skipped).  A load that
 * succeeds records the name it loaded in the handle's loaded_filename (a
 * block from CRYPTO_malloc, freed with the handle). */
struct dso_meth_st {
  const char *name;
  int (*dso_load)(DSO *dso);
  int (*dso_unload)(DSO *dso);
  void *(*dso_bind_var)(DSO *dso, const char *symname);
  DSO_FUNC_TYPE (*dso_bind_func)(DSO *dso, const char *symname);
  long (*dso_ctrl)(DSO *dso, int cmd, long larg, void *parg);
  DSO_NAME_CONVERTER_FUNC dso_name_converter;
  DSO_MERGER_FUNC dso_merger;
  int (*init)(DSO *dso);
  int (*finish)(DSO *dso);
};

/* The handle. */
struct dso_st {
  DSO_METHOD *meth;
  STACK *meth_data;  /* the method's own data (a loader's handles) */
  int references;    /* lock 28 */
  int flags;         /* DSO_FLAG_* */
  CRYPTO_EX_DATA ex_data;
  DSO_NAME_CONVERTER_FUNC name_converter; /* overrides the method's */
  DSO_MERGER_FUNC merger;                 /* overrides the method's */
  char *filename;        /* the name given by the caller */
  char *loaded_filename; /* the name a method loaded */
};

/* ---- handles ----
 * A handle is made with one reference; DSO_up_ref adds one and DSO_free
 * drops one, the last unloading the object (the method's dso_unload, then
 * its finish) and freeing the handle.  Null handles and names are refused
 * with "passed a null parameter". */

/* DSO_new_method(NULL). */
MORVANE_EXPORT DSO *DSO_new(void);
/* A handle of `meth` (the default method when null), after the method's
 * init; null with "malloc failure", or when init refuses. */
MORVANE_EXPORT DSO *DSO_new_method(DSO_METHOD *meth);
/* Drops one reference; the last one unloads the object and frees the handle.
 * 1 on success; 0 with an error when unloading or the method's finish fails
 * (the handle is kept), or for null. */
MORVANE_EXPORT int DSO_free(DSO *dso);
/* One more reference; 1, or 0 for null. */
MORVANE_EXPORT int DSO_up_ref(DSO *dso);
/* The handle's flags (0 for null). */
MORVANE_EXPORT int DSO_flags(DSO *dso);
/* DSO_CTRL_* on the flags, other commands through the method (-1 with
 * "functionality not supported" without one); -1 for null. */
MORVANE_EXPORT long DSO_ctrl(DSO *dso, int cmd, long larg, void *parg);

/* The method of handles made without one: the platform method, which in
 * this build is the null method, until the application sets another. */
MORVANE_EXPORT void DSO_set_default_method(DSO_METHOD *meth);
MORVANE_EXPORT DSO_METHOD *DSO_get_default_method(void);
/* The handle's method (null for a null handle). */
MORVANE_EXPORT DSO_METHOD *DSO_get_method(DSO *dso);
/* Stores `meth` and returns the previous method (neither finish nor init
 * runs); null, storing nothing, for a null handle. */
MORVANE_EXPORT DSO_METHOD *DSO_set_method(DSO *dso, DSO_METHOD *meth);

/* The handle's own converter, used before the method's; the previous one is
 * stored at `oldcb` when that is not null.  1, or 0 for null. */
MORVANE_EXPORT int DSO_set_name_converter(DSO *dso, DSO_NAME_CONVERTER_FUNC cb,
                                          DSO_NAME_CONVERTER_FUNC *oldcb);
/* The name given by the caller and the name a method loaded (null when
 * none; null with an error for a null handle). */
MORVANE_EXPORT const char *DSO_get_filename(DSO *dso);
MORVANE_EXPORT const char *DSO_get_loaded_filename(DSO *dso);
/* Replaces the name by a copy; refused with "dso already loaded" once a
 * method loaded the object.  1 or 0. */
MORVANE_EXPORT int DSO_set_filename(DSO *dso, const char *filename);
/* The platform file name of `filename` (the handle's name when null): the
 * handle's converter, else the method's, else a copy (also with
 * DSO_FLAG_NO_NAME_TRANSLATION).  New text the caller frees, or null. */
MORVANE_EXPORT char *DSO_convert_filename(DSO *dso, const char *filename);
/* `filespec1` (the handle's name when null) joined with the directory
 * `filespec2` by the handle's merger, else the method's; null without either
 * or with DSO_FLAG_NO_NAME_TRANSLATION (no error), null with
 * DSO_R_NO_FILE_SPECIFICATION when there is no name at all. */
MORVANE_EXPORT char *DSO_merge(DSO *dso, const char *filespec1, const char *filespec2);

/* Loads `filename` into `dso`, or into a new handle with `meth` (the default
 * method when null) and the handle flags `flags` when `dso` is null.  Returns
 * the handle, or null with an error; a handle made here is freed on failure,
 * one given by the caller is kept (with its new name). */
MORVANE_EXPORT DSO *DSO_load(DSO *dso, const char *filename, DSO_METHOD *meth, int flags);
/* The address of the variable or function `symname` in the loaded object,
 * or null with an error. */
MORVANE_EXPORT void *DSO_bind_var(DSO *dso, const char *symname);
MORVANE_EXPORT DSO_FUNC_TYPE DSO_bind_func(DSO *dso, const char *symname);

/* The null method ("NULL shared library method", every slot empty) and the
 * platform method, here the null method too.  The other loaders are not
 * part of this library: null. */
MORVANE_EXPORT DSO_METHOD *DSO_METHOD_null(void);
MORVANE_EXPORT DSO_METHOD *DSO_METHOD_morvane(void);
MORVANE_EXPORT DSO_METHOD *DSO_METHOD_dl(void);
MORVANE_EXPORT DSO_METHOD *DSO_METHOD_dlfcn(void);
MORVANE_EXPORT DSO_METHOD *DSO_METHOD_vms(void);
MORVANE_EXPORT DSO_METHOD *DSO_METHOD_win32(void);

/* Registers the texts of library 37 (ERR_LIB_DSO) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_DSO_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 37 (DSO). */
#define DSO_F_DLFCN_BIND_FUNC 100
#define DSO_F_DLFCN_BIND_VAR 101
#define DSO_F_DLFCN_LOAD 102
#define DSO_F_DLFCN_UNLOAD 103
#define DSO_F_DL_BIND_FUNC 104
#define DSO_F_DL_BIND_VAR 105
#define DSO_F_DL_LOAD 106
#define DSO_F_DL_UNLOAD 107
#define DSO_F_DSO_BIND_FUNC 108
#define DSO_F_DSO_BIND_VAR 109
#define DSO_F_DSO_CTRL 110
#define DSO_F_DSO_FREE 111
#define DSO_F_DSO_LOAD 112
#define DSO_F_DSO_NEW_METHOD 113
#define DSO_F_DSO_UP_REF 114
#define DSO_F_VMS_BIND_SYM 115
#define DSO_F_VMS_LOAD 116
#define DSO_F_VMS_UNLOAD 117
#define DSO_F_WIN32_BIND_FUNC 118
#define DSO_F_WIN32_BIND_VAR 119
#define DSO_F_WIN32_LOAD 120
#define DSO_F_WIN32_UNLOAD 121
#define DSO_F_DSO_SET_NAME_CONVERTER 122
#define DSO_F_DLFCN_NAME_CONVERTER 123
#define DSO_F_DL_NAME_CONVERTER 124
#define DSO_F_WIN32_NAME_CONVERTER 125
#define DSO_F_DSO_CONVERT_FILENAME 126
#define DSO_F_DSO_GET_FILENAME 127
#define DSO_F_DSO_GET_LOADED_FILENAME 128
#define DSO_F_DSO_SET_FILENAME 129
#define DSO_F_DLFCN_MERGER 130
#define DSO_F_DL_MERGER 131
#define DSO_F_DSO_MERGE 132
#define DSO_F_VMS_MERGER 133
#define DSO_F_WIN32_MERGER 134
#define DSO_F_WIN32_JOINER 135
#define DSO_F_WIN32_SPLITTER 136
/* Reason codes of library 37 (DSO). */
#define DSO_R_CONTROL_COMMAND_FAILED 100
#define DSO_R_FILENAME_TOO_BIG 101
#define DSO_R_CLEANUP_METHOD_FUNCTION_FAILED 102
#define DSO_R_COULD_NOT_LOAD_THE_SHARED_LIBRARY 103
#define DSO_R_A_NULL_SHARED_LIBRARY_HANDLE_WAS_USED 104
#define DSO_R_THE_METH_DATA_STACK_IS_CORRUPT 105
#define DSO_R_COULD_NOT_BIND_TO_THE_REQUESTED_SYMBOL_NAME 106
#define DSO_R_COULD_NOT_UNLOAD_THE_SHARED_LIBRARY 107
#define DSO_R_FUNCTIONALITY_NOT_SUPPORTED 108
#define DSO_R_NAME_TRANSLATION_FAILED 109
#define DSO_R_DSO_ALREADY_LOADED 110
#define DSO_R_NO_FILENAME 111
#define DSO_R_SET_FILENAME_FAILED 112
#define DSO_R_EMPTY_FILE_STRUCTURE 113
#define DSO_R_FAILURE 114
#define DSO_R_INCORRECT_FILE_SYNTAX 115
#define DSO_R_NO_FILE_SPECIFICATION 116
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_DSO_H */
