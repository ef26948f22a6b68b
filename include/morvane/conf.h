/* Morvane: configuration files.
 *
 * A configuration is a set of named sections of name = value pairs, read from
 * text.  Its store is one hash table (LHASH) of CONF_VALUE records: one
 * section record per section (name null, `value` holding the STACK of the
 * section's value records in the order they were stored) and one record per
 * value, keyed by (section, name).  A lookup falls back from the given section
 * to the environment (for the section "ENV") and then to the section
 * "default".  Lookups return pointers into the store (or into the
 * environment), valid until the data is freed; nothing is copied.
 *
 * The text format: "#" comments, "[section]" headers, "name = value" lines,
 * "section::name = value" keys, quotes ('', "", ``), backslash escapes (\n,
 * \r, \t, \b, any other byte literal), a backslash at the end of a line joins
 * the next line (the last of an odd run of them; an even run is escaped
 * backslashes), and $name, ${name}, $(name), $section::name expand the value
 * of an earlier line or of the environment (section "ENV").  Expansion may
 * build a value of at most CONF_MAX_VALUE_LENGTH bytes and add at most 16 MiB
 * over one load, so no text expands into unbounded memory.  The "WIN32" method
 * reads ";" as a comment at the start of a line, has no escapes and no single
 * or back quotes, and reads "" inside "..." as one ".
 *
 * A CONF works through its method table (CONF_METHOD); a null slot is an
 * operation the method does not offer, and the call that needs it fails with
 * "operation not supported by the method" (NCONF_new needs create and init,
 * NCONF_get_number_e is_number and to_int).  The NCONF_ calls take
 * a CONF; the older CONF_ calls take the bare hash table (null for none) and
 * wrap it in a CONF on the stack with the default method of
 * CONF_set_default_method.  Failing calls queue an error of library 14
 * (ERR_LIB_CONF) and return 0 or null; a parse error also attaches the data
 * text "line N" and stores N through the `eline` argument.  No locks: a CONF
 * is used by one thread at a time, and the default method is one unguarded
 * process-wide pointer.
 *
 * Null arguments: NCONF_free accepts null; the lookups take a null CONF or
 * hash table as none (only the environment is then consulted); file names,
 * streams, methods and texts to parse must be valid. */
#ifndef MORVANE_CONF_H
#define MORVANE_CONF_H

#include <stdio.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* One record of the store.  A value record borrows `section` from its section
 * record and owns `name` and `value`; a section record owns `section`, has a
 * null `name` and keeps its STACK of value records in `value`. */
typedef struct {
  char *section;
  char *name;
  char *value;
} CONF_VALUE;

struct conf_method_st {
  const char *name;
  CONF *(*create)(CONF_METHOD *meth);
  int (*init)(CONF *conf);
  int (*destroy)(CONF *conf);
  int (*destroy_data)(CONF *conf);
  int (*load_bio)(CONF *conf, BIO *bp, long *eline);
  int (*dump)(const CONF *conf, BIO *bp);
  int (*is_number)(const CONF *conf, char c);
  int (*to_int)(const CONF *conf, char c);
  int (*load)(CONF *conf, const char *name, long *eline);
};

struct conf_st {
  CONF_METHOD *meth;
  void *meth_data; /* the method's 256-entry table of character classes */
  LHASH *data;     /* the records, or null before the first load */
};

/* The longest value that variable expansion may build, in bytes; a longer one
 * fails the load with CONF_R_VARIABLE_HAS_NO_VALUE, as does a load whose
 * expansions add more than 16 MiB in all. */
#define CONF_MAX_VALUE_LENGTH 65536

MORVANE_EXPORT extern const char CONF_version[];
MORVANE_EXPORT extern const char CONF_def_version[];

/* ---- the store (used by the parser and by components that build
 * configurations themselves) --------------------------------------------- */

/* Creates conf->data when it is null; 1 when the table exists afterwards. */
MORVANE_EXPORT int _CONF_new_data(CONF *conf);
/* Frees every record and the table and sets conf->data to null. */
MORVANE_EXPORT void _CONF_free_data(CONF *conf);
/* A new empty section record holding a copy of `section`, stored in the
 * table; null when an allocation fails. */
MORVANE_EXPORT CONF_VALUE *_CONF_new_section(CONF *conf, const char *section);
/* The section record, or null. */
MORVANE_EXPORT CONF_VALUE *_CONF_get_section(const CONF *conf, const char *section);
/* The section's STACK of value records, or null. */
MORVANE_EXPORT STACK *_CONF_get_section_values(const CONF *conf, const char *section);
/* Stores `value` (name and value owned by the store from now on) at the end
 * of `section`'s list; an earlier record with the same name is taken out of
 * the list and freed (which costs a search of the list: the parser itself
 * stores redefinitions in O(1)).  1 on success,
 * 0 when the record cannot be stored (the caller still owns it), also for a
 * null conf, store, section or value. */
MORVANE_EXPORT int _CONF_add_string(CONF *conf, CONF_VALUE *section, CONF_VALUE *value);
/* The value of (section, name), else for the section "ENV" getenv(name),
 * else the value of ("default", name); null when none.  A null `conf` reads
 * only the environment; a null `section` only "default". */
MORVANE_EXPORT char *_CONF_get_string(const CONF *conf, const char *section, const char *name);

/* ---- methods -------------------------------------------------------------- */

/* The "Morvane default" and "WIN32" methods: process-wide constants. */
MORVANE_EXPORT CONF_METHOD *NCONF_default(void);
MORVANE_EXPORT CONF_METHOD *NCONF_WIN32(void);

/* ---- configurations ------------------------------------------------------- */

/* A new empty configuration of method `meth` (null: the default method). */
MORVANE_EXPORT CONF *NCONF_new(CONF_METHOD *meth);
MORVANE_EXPORT void NCONF_free(CONF *conf);      /* null allowed */
MORVANE_EXPORT void NCONF_free_data(CONF *conf); /* keeps the CONF */
/* Loads a file, a FILE (not closed) or a stream, adding to what conf holds.
 * 1 on success; 0 on failure, with the line number stored in *eline for a
 * parse error (eline may be null).  Only the end of the input ends the text:
 * a read that fails (a directory, a FILE not open for reading, a stream
 * error) fails the load with "read error", and a NUL byte in the text with
 * "nul byte in text", each naming the line being read.  A read that asks to
 * retry ends the text when the stream is at its end (an empty memory stream,
 * or a filter chain that holds nothing in front of one); a stream not at its
 * end is read again, 16 times in a row
 * at most, and one that still has nothing fails the load with "read
 * error".  A failed load into a
 * CONF that held no table leaves none; one that adds to earlier loads keeps
 * what it stored before the failure. */
MORVANE_EXPORT int NCONF_load(CONF *conf, const char *file, long *eline);
MORVANE_EXPORT int NCONF_load_fp(CONF *conf, FILE *fp, long *eline);
MORVANE_EXPORT int NCONF_load_bio(CONF *conf, BIO *bp, long *eline);
/* The section's STACK of CONF_VALUE records, or null (nothing queued when the
 * section does not exist). */
MORVANE_EXPORT STACK *NCONF_get_section(const CONF *conf, const char *section);
/* The value after the lookup rule above; null with "no value" and the data
 * "group=G name=N" queued when there is none (with a null conf only the
 * environment is read: "no conf or environment variable"). */
MORVANE_EXPORT char *NCONF_get_string(const CONF *conf, const char *group, const char *name);
/* Reads the leading decimal digits of the value into *result (0 when the
 * value starts with anything else); 1 on success, 0 when there is no value or
 * conf or result is null, and 0 with "number too large" (*result untouched)
 * when the digits do not fit a long. */
MORVANE_EXPORT int NCONF_get_number_e(const CONF *conf, const char *group, const char *name,
                                      long *result);
#define NCONF_get_number(c, g, n, r) NCONF_get_number_e((c), (g), (n), (r))
/* Writes every record: "[section] name=value" lines and "[[section]]" lines
 * for the section records, in the table's walk order.  1, or 0 when a write
 * fails (nothing more is written then). */
MORVANE_EXPORT int NCONF_dump_fp(const CONF *conf, FILE *out);
MORVANE_EXPORT int NCONF_dump_bio(const CONF *conf, BIO *out);

/* ---- the hash-table forms --------------------------------------------- */

/* Sets the method of the wrappers (initially NCONF_default(); null restores
 * it): 1, or 0 for a method without init, which the wrappers run. */
MORVANE_EXPORT int CONF_set_default_method(CONF_METHOD *meth);
/* Makes `conf` a wrapper around `hash` (which may be null); a null conf is
 * left alone. */
MORVANE_EXPORT void CONF_set_nconf(CONF *conf, LHASH *hash);
/* Load into `hash` (null: a new table); the table on success, null on
 * failure. */
MORVANE_EXPORT LHASH *CONF_load(LHASH *hash, const char *file, long *eline);
MORVANE_EXPORT LHASH *CONF_load_fp(LHASH *hash, FILE *fp, long *eline);
MORVANE_EXPORT LHASH *CONF_load_bio(LHASH *hash, BIO *bp, long *eline);
MORVANE_EXPORT STACK *CONF_get_section(LHASH *hash, const char *section);
MORVANE_EXPORT char *CONF_get_string(LHASH *hash, const char *group, const char *name);
/* The value's leading decimal digits; 0 when there is none or they do not
 * fit a long, and then the thread's whole error queue is cleared.  A null
 * hash reads the environment. */
MORVANE_EXPORT long CONF_get_number(LHASH *hash, const char *group, const char *name);
MORVANE_EXPORT void CONF_free(LHASH *hash);
MORVANE_EXPORT int CONF_dump_fp(LHASH *hash, FILE *out);
MORVANE_EXPORT int CONF_dump_bio(LHASH *hash, BIO *out);

/* Registers the texts of library 14 (ERR_LIB_CONF) once; see
 * ERR_load_strings in <morvane/err.h>. */
MORVANE_EXPORT void ERR_load_CONF_strings(void);

/* ---- configuration modules ---------------------------------------------
 *
 * A configuration can name modules to run: the section "morvane_conf" of
 * "default" (or the one named by the application's name) lists name = value
 * lines, and each line runs the init function of the registered module it
 * names, whose value as a rule names a further section.  Components
 * register modules by name with CONF_module_add; the library's own are
 * "oid_section", "engines" and "alg_section" (MORVANE_load_builtin_modules).
 * A line names a module by prefix: it runs the first registered module whose
 * name begins with the line's name up to its last "." (engines.1 and
 * engines.2 both run "engines").  So with "abcdef" registered before "abc",
 * the line abc = s runs "abcdef"; and a module "oid" registered after the
 * built-in "oid_section" never runs, since the line oid = s runs
 * "oid_section" on section s.  A module is reached only when no module
 * registered before it has a name that begins with its own.  Each successful
 * init leaves an instance (CONF_IMODULE) until CONF_modules_finish runs the
 * finish functions, newest first.  Modules cannot be loaded from shared
 * objects in this build.  The module and instance lists and the mark of
 * MORVANE_no_config are unguarded process-wide state: load and unload
 * modules at start-up and shutdown, on one thread. */

typedef struct conf_module_st CONF_MODULE;
typedef struct conf_imodule_st CONF_IMODULE;
/* An init function: > 0 success, anything else failure.  A failed init is
 * followed by the module's finish function on the same instance. */
typedef int conf_init_func(CONF_IMODULE *md, const CONF *cnf);
typedef void conf_finish_func(CONF_IMODULE *md);

/* Flags of CONF_modules_load and CONF_modules_load_file. */
#define CONF_MFLAGS_IGNORE_ERRORS 0x1 /* run the next module after a failure; succeed */
#define CONF_MFLAGS_SILENT 0x4        /* queue nothing for unknown or failed modules */
#define CONF_MFLAGS_NO_DSO 0x8        /* never look for a module in a shared object */
#define CONF_MFLAGS_IGNORE_MISSING_FILE 0x10 /* a missing file is success */
#define CONF_MFLAGS_DEFAULT_SECTION 0x20     /* fall back to "morvane_conf" */

/* Registers a module; 1, or 0 when out of memory.  A name registered twice
 * gets a second record, which lookups never reach. */
MORVANE_EXPORT int CONF_module_add(const char *name, conf_init_func *ifunc,
                                   conf_finish_func *ffunc);
/* Runs the modules listed in `cnf` (see above; `appname` names the list, null
 * for "morvane_conf").  1 on success, also when there is no list; what the
 * lookups of the list name queued is removed either way (also for an
 * `appname` missing under CONF_MFLAGS_DEFAULT_SECTION), the caller's own
 * entries and mark stay; 0 when the named list section is missing ("no
 * section"); otherwise the failing module's result (-1 for an unknown module
 * or a failed init).  With CONF_MFLAGS_SILENT an unknown or failed module
 * leaves nothing queued, its init's own errors included. */
MORVANE_EXPORT int CONF_modules_load(const CONF *cnf, const char *appname, unsigned long flags);
/* Loads `filename` (null: CONF_get1_default_config_file()) into a new CONF,
 * runs its modules and frees it: CONF_modules_load's result, or 0 when the
 * file cannot be loaded (1 for a missing file with
 * CONF_MFLAGS_IGNORE_MISSING_FILE, the load's errors removed and the
 * caller's own entries and mark kept). */
MORVANE_EXPORT int CONF_modules_load_file(const char *filename, const char *appname,
                                          unsigned long flags);
/* Finishes every instance, newest first. */
MORVANE_EXPORT void CONF_modules_finish(void);
/* Finishes every instance, then removes every registered module when `all`
 * is nonzero, else only unused modules that came from shared objects. */
MORVANE_EXPORT void CONF_modules_unload(int all);
/* CONF_modules_finish() and CONF_modules_unload(1). */
MORVANE_EXPORT void CONF_modules_free(void);

/* Accessors for init and finish functions; no checks. */
MORVANE_EXPORT const char *CONF_imodule_get_name(const CONF_IMODULE *md);
MORVANE_EXPORT const char *CONF_imodule_get_value(const CONF_IMODULE *md);
MORVANE_EXPORT void *CONF_imodule_get_usr_data(const CONF_IMODULE *md);
MORVANE_EXPORT void CONF_imodule_set_usr_data(CONF_IMODULE *md, void *usr_data);
MORVANE_EXPORT CONF_MODULE *CONF_imodule_get_module(const CONF_IMODULE *md);
MORVANE_EXPORT unsigned long CONF_imodule_get_flags(const CONF_IMODULE *md);
MORVANE_EXPORT void CONF_imodule_set_flags(CONF_IMODULE *md, unsigned long flags);
MORVANE_EXPORT void *CONF_module_get_usr_data(CONF_MODULE *pmod);
MORVANE_EXPORT void CONF_module_set_usr_data(CONF_MODULE *pmod, void *usr_data);

/* The default configuration file: a copy of the environment variable
 * MORVANE_CONF when it is set, else "/usr/local/ssl/morvane.cnf" (the
 * directory of X509_get_default_cert_area).  A new string the caller frees;
 * null when out of memory. */
MORVANE_EXPORT char *CONF_get1_default_config_file(void);

/* Splits `list` at the character `sep` and calls list_cb(element, length,
 * arg) for each element in order (an empty element as (null, 0)); with
 * `nospc` the white space around each element is dropped.  Stops at a
 * callback result of 0 or less and returns it; else 1.  A null list is 0. */
MORVANE_EXPORT int CONF_parse_list(const char *list, int sep, int nospc,
                                   int (*list_cb)(const char *elem, int len, void *usr),
                                   void *arg);

/* Registers the built-in modules "oid_section", "engines" and "alg_section"
 * (again on every call). */
MORVANE_EXPORT void MORVANE_load_builtin_modules(void);
/* Automatic configuration: registers the built-in modules, loads the built-in
 * engines (removing what those two queue, and only that) and runs the
 * modules of the default configuration file, listed in the section named
 * `config_name` (or "morvane_conf"); a missing file is no error.  When the file cannot be read or a module fails, writes "Auto
 * configuration failed" and the error queue to standard error and ends the
 * process with exit status 1.  Does nothing after MORVANE_no_config; it does
 * not set that mark itself, so a second call configures again. */
MORVANE_EXPORT void MORVANE_config(const char *config_name);
/* Makes every later MORVANE_config do nothing. */
MORVANE_EXPORT void MORVANE_no_config(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 14 (CONF). */
#define CONF_F_CONF_LOAD 100
#define CONF_F_STR_COPY 101
#define CONF_F_CONF_LOAD_BIO 102
#define CONF_F_CONF_LOAD_FP 103
#define CONF_F_CONF_DUMP_FP 104
#define CONF_F_NCONF_DUMP_BIO 105
#define CONF_F_NCONF_DUMP_FP 106
#define CONF_F_NCONF_GET_NUMBER 107
#define CONF_F_NCONF_GET_SECTION 108
#define CONF_F_NCONF_GET_STRING 109
#define CONF_F_NCONF_LOAD_BIO 110
#define CONF_F_NCONF_NEW 111
#define CONF_F_NCONF_GET_NUMBER_E 112
#define CONF_F_NCONF_LOAD 113
#define CONF_F_NCONF_LOAD_FP 114
#define CONF_F_MODULE_INIT 115
#define CONF_F_CONF_MODULES_LOAD 116
#define CONF_F_MODULE_LOAD_DSO 117
#define CONF_F_MODULE_RUN 118
#define CONF_F_DEF_LOAD 120
#define CONF_F_DEF_LOAD_BIO 121
#define CONF_F_NCONF_FREE 122
#define CONF_F_NCONF_FREE_DATA 123
#define CONF_F_CONF_SET_DEFAULT_METHOD 124
/* Reason codes of library 14 (CONF). */
#define CONF_R_MISSING_CLOSE_SQUARE_BRACKET 100
#define CONF_R_MISSING_EQUAL_SIGN 101
#define CONF_R_NO_CLOSE_BRACE 102
#define CONF_R_UNABLE_TO_CREATE_NEW_SECTION 103
#define CONF_R_VARIABLE_HAS_NO_VALUE 104
#define CONF_R_NO_CONF 105
#define CONF_R_NO_CONF_OR_ENVIRONMENT_VARIABLE 106
#define CONF_R_NO_SECTION 107
#define CONF_R_NO_VALUE 108
#define CONF_R_MODULE_INITIALIZATION_ERROR 109
#define CONF_R_ERROR_LOADING_DSO 110
#define CONF_R_MISSING_FINISH_FUNCTION 111
#define CONF_R_MISSING_INIT_FUNCTION 112
#define CONF_R_UNKNOWN_MODULE_NAME 113
#define CONF_R_NO_SUCH_FILE 114
#define CONF_R_NUMBER_TOO_LARGE 115
#define CONF_R_OPERATION_NOT_SUPPORTED 116
#define CONF_R_READ_ERROR 117
#define CONF_R_NUL_BYTE 118
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_CONF_H */
