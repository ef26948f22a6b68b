/* Morvane: the hash table, a linear hash table over untyped item pointers.
 *
 * The bucket array grows and shrinks one bucket at a time.  The caller gives a
 * hash function (null: lh_strhash) and an equality function (null: strcmp);
 * items equal under it are stored once, and inserting an equal item replaces
 * the stored one.  The table never owns its items.  No function queues an
 * error: lh_insert, lh_delete and lh_retrieve set `error` to 0, and an
 * allocation that fails in lh_insert or lh_delete (a shrinking of the bucket
 * array, after the item was removed all the same) adds one to it.  A table
 * has no lock; its owner serialises access.
 *
 * Null arguments: every function accepts a null table (lh_insert,
 * lh_delete and lh_retrieve give null, lh_num_items 0, lh_free, the walks
 * and the statistics printers do nothing), and the walks a null function;
 * lh_strhash(null) is 0. */
#ifndef MORVANE_LHASH_H
#define MORVANE_LHASH_H

#include <stdio.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

typedef int (*LHASH_COMP_FN_TYPE)(const void *, const void *);
typedef unsigned long (*LHASH_HASH_FN_TYPE)(const void *);
typedef void (*LHASH_DOALL_FN_TYPE)(void *);
typedef void (*LHASH_DOALL_ARG_FN_TYPE)(void *, void *);

struct lhash_node_st {
  void *data;
  struct lhash_node_st *next;
  unsigned long hash; /* the item's full hash, so splits never rehash */
};

struct lhash_st {
  LHASH_NODE **b;
  LHASH_COMP_FN_TYPE comp;
  LHASH_HASH_FN_TYPE hash;
  unsigned int num_nodes;
  unsigned int num_alloc_nodes;
  unsigned int p;
  unsigned int pmax;
  unsigned long up_load;   /* load (items * 256 / buckets) that splits */
  unsigned long down_load; /* load that merges */
  unsigned long num_items;

  unsigned long num_expands;
  unsigned long num_expand_reallocs;
  unsigned long num_contracts;
  unsigned long num_contract_reallocs;
  unsigned long num_hash_calls;
  unsigned long num_comp_calls;
  unsigned long num_insert;
  unsigned long num_replace;
  unsigned long num_delete;
  unsigned long num_no_delete;
  unsigned long num_retrieve;
  unsigned long num_retrieve_miss;
  unsigned long num_hash_comps;

  int error;
};

#define LH_LOAD_MULT 256

MORVANE_EXPORT extern const char lh_version[];

MORVANE_EXPORT LHASH *lh_new(LHASH_HASH_FN_TYPE h, LHASH_COMP_FN_TYPE c);
MORVANE_EXPORT void lh_free(LHASH *lh);
/* Stores data: when an equal item is stored, data takes its place and the
 * old item is returned; otherwise data is added and the result is null.  The
 * call first sets `error` to 0; after it, `error` above 0 means that an
 * allocation failed, either the new node (the result is null and data is not
 * stored, the table otherwise as it was) or the doubling of the bucket array
 * (data is stored all the same; no bucket was split).  So neither the result
 * nor `error` says whether data went in: a non-null result, or a lookup
 * (lh_retrieve giving data), does. */
MORVANE_EXPORT void *lh_insert(LHASH *lh, void *data);
MORVANE_EXPORT void *lh_delete(LHASH *lh, const void *data);
MORVANE_EXPORT void *lh_retrieve(LHASH *lh, const void *data);
/* Walks buckets from the last down, each chain in order; the callback may
 * delete the item it is given. */
MORVANE_EXPORT void lh_doall(LHASH *lh, LHASH_DOALL_FN_TYPE func);
MORVANE_EXPORT void lh_doall_arg(LHASH *lh, LHASH_DOALL_ARG_FN_TYPE func, void *arg);
MORVANE_EXPORT unsigned long lh_strhash(const char *c);
MORVANE_EXPORT unsigned long lh_num_items(const LHASH *lh);

/* Statistics, to a stream or to a FILE (left open).  lh_stats prints the
 * counters above, one "name = value" line each; lh_node_stats one line per
 * bucket with the length of its chain; lh_node_usage_stats the number of used
 * buckets, of items, and (when a bucket is used) the load over all buckets
 * and over the used ones, to two decimals.  Nothing is printed for a null
 * table, stream or FILE. */
MORVANE_EXPORT void lh_stats(const LHASH *lh, FILE *out);
MORVANE_EXPORT void lh_node_stats(const LHASH *lh, FILE *out);
MORVANE_EXPORT void lh_node_usage_stats(const LHASH *lh, FILE *out);
MORVANE_EXPORT void lh_stats_bio(const LHASH *lh, BIO *out);
MORVANE_EXPORT void lh_node_stats_bio(const LHASH *lh, BIO *out);
MORVANE_EXPORT void lh_node_usage_stats_bio(const LHASH *lh, BIO *out);

MORVANE_END_DECLS

#endif /* MORVANE_LHASH_H */
