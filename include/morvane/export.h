/* Morvane: the export macro.
 *
 * The library is built with hidden visibility; every function and data object
 * of the public API is declared with MORVANE_EXPORT in its header, and nothing
 * else leaves the shared object. */
#ifndef MORVANE_EXPORT_H
#define MORVANE_EXPORT_H

#if defined(__GNUC__) || defined(__clang__)
#define MORVANE_EXPORT __attribute__((visibility("default")))
#else
#define MORVANE_EXPORT
#endif

#ifdef __cplusplus
#define MORVANE_BEGIN_DECLS extern "C" {
#define MORVANE_END_DECLS }
#else
#define MORVANE_BEGIN_DECLS
#define MORVANE_END_DECLS
#endif

/* The version text that every component appends to its label. */
#define MORVANE_VERSION_TEXT "Morvane 0.9.8o 01 Jun 2010"
#define MORVANE_VERSION_NUMBER 0x009080ffL

#endif /* MORVANE_EXPORT_H */
