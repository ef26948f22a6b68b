// Statistics printers of the hash table: its counters, the length of each
// bucket's chain, and its load, to a stream or to a FILE.  They only read the
// table; a null table, stream or FILE prints nothing.

#include <stdio.h>

#include <morvane/bio.h>
#include <morvane/lhash.h>

namespace {

unsigned long ChainLength(const LHASH* lh, unsigned int i) {
  unsigned long n = 0;
  for (const LHASH_NODE* p = lh->b[i]; p != nullptr; p = p->next) n++;
  return n;
}

// Runs a stream printer on a FILE through a stream that leaves it open;
// prints nothing when the stream cannot be made.
void OnFile(const LHASH* lh, FILE* fp, void (*print)(const LHASH*, BIO*)) {
  if (lh == nullptr || fp == nullptr) return;
  BIO* bp = BIO_new(BIO_s_file());
  if (bp == nullptr) return;
  BIO_set_fp(bp, fp, BIO_NOCLOSE);
  print(lh, bp);
  BIO_free(bp);
}

}  // namespace

/* see morvane/lhash.h */
void lh_stats_bio(const LHASH* lh, BIO* out) {
  if (lh == nullptr || out == nullptr) return;
  BIO_printf(out, "num_items             = %lu\n", lh->num_items);
  BIO_printf(out, "num_nodes             = %u\n", lh->num_nodes);
  BIO_printf(out, "num_alloc_nodes       = %u\n", lh->num_alloc_nodes);
  BIO_printf(out, "num_expands           = %lu\n", lh->num_expands);
  BIO_printf(out, "num_expand_reallocs   = %lu\n", lh->num_expand_reallocs);
  BIO_printf(out, "num_contracts         = %lu\n", lh->num_contracts);
  BIO_printf(out, "num_contract_reallocs = %lu\n", lh->num_contract_reallocs);
  BIO_printf(out, "num_hash_calls        = %lu\n", lh->num_hash_calls);
  BIO_printf(out, "num_comp_calls        = %lu\n", lh->num_comp_calls);
  BIO_printf(out, "num_insert            = %lu\n", lh->num_insert);
  BIO_printf(out, "num_replace           = %lu\n", lh->num_replace);
  BIO_printf(out, "num_delete            = %lu\n", lh->num_delete);
  BIO_printf(out, "num_no_delete         = %lu\n", lh->num_no_delete);
  BIO_printf(out, "num_retrieve          = %lu\n", lh->num_retrieve);
  BIO_printf(out, "num_retrieve_miss     = %lu\n", lh->num_retrieve_miss);
  BIO_printf(out, "num_hash_comps        = %lu\n", lh->num_hash_comps);
}

void lh_node_stats_bio(const LHASH* lh, BIO* out) {
  if (lh == nullptr || out == nullptr) return;
  for (unsigned int i = 0; i < lh->num_nodes; i++) {
    BIO_printf(out, "node %6u -> %3u\n", i, static_cast<unsigned int>(ChainLength(lh, i)));
  }
}

void lh_node_usage_stats_bio(const LHASH* lh, BIO* out) {
  if (lh == nullptr || out == nullptr) return;
  unsigned long total = 0, used = 0;
  for (unsigned int i = 0; i < lh->num_nodes; i++) {
    unsigned long n = ChainLength(lh, i);
    if (n > 0) {
      used++;
      total += n;
    }
  }
  BIO_printf(out, "%lu nodes used out of %u\n", used, lh->num_nodes);
  BIO_printf(out, "%lu items\n", total);
  if (used == 0) return;
  unsigned long nodes = lh->num_nodes;
  BIO_printf(out, "load %d.%02d  actual load %d.%02d\n", static_cast<int>(total / nodes),
             static_cast<int>((total % nodes) * 100 / nodes), static_cast<int>(total / used),
             static_cast<int>((total % used) * 100 / used));
}

void lh_stats(const LHASH* lh, FILE* fp) { OnFile(lh, fp, lh_stats_bio); }

void lh_node_stats(const LHASH* lh, FILE* fp) { OnFile(lh, fp, lh_node_stats_bio); }

void lh_node_usage_stats(const LHASH* lh, FILE* fp) { OnFile(lh, fp, lh_node_usage_stats_bio); }
