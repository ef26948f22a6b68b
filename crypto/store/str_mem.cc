// The memory store method: a skeleton back end.  It parses search attributes
// and keeps listing contexts, but holds no objects of its own: generating,
// storing, modifying and deleting are not implemented, and listings find
// objects only in store data placed in the store's extra-data slot 1 by
// something outside the library.

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/store.h>

namespace {

// A listing: one search record per conjunction group of the search list
// (null when the list has none).  `type` is left 0: the listing does not
// filter by object type.
struct MemContext {
  int type;
  STACK* search_attributes;  // of STORE_ATTR_INFO, ordered by STORE_ATTR_INFO_compare
  int search_index;          // -1 until the first search
  int index;                 // -1; not used further
};

// The extra-data slot in which store data would be found.
constexpr int kDataIndex = 1;

int compare_records(const char* const* a, const char* const* b) {
  return STORE_ATTR_INFO_compare(reinterpret_cast<const STORE_ATTR_INFO*>(*a),
                                 reinterpret_cast<const STORE_ATTR_INFO*>(*b));
}

void free_record(void* record) {
  STORE_ATTR_INFO_free(static_cast<STORE_ATTR_INFO*>(record));
}

void release_context(MemContext* ctx) {
  sk_pop_free(ctx->search_attributes, free_record);
  MORVANE_free(ctx);
}

int mem_init(STORE*) {
  return 1;
}

void mem_clean(STORE*) {}

STORE_OBJECT* mem_generate(STORE*, STORE_OBJECT_TYPES, MORVANE_ITEM*, MORVANE_ITEM*) {
  STOREerr(STORE_F_MEM_GENERATE, STORE_R_NOT_IMPLEMENTED);
  return nullptr;
}

int mem_store(STORE*, STORE_OBJECT_TYPES, STORE_OBJECT*, MORVANE_ITEM*, MORVANE_ITEM*) {
  STOREerr(STORE_F_MEM_STORE, STORE_R_NOT_IMPLEMENTED);
  return 0;
}

int mem_modify(STORE*, STORE_OBJECT_TYPES, MORVANE_ITEM*, MORVANE_ITEM*, MORVANE_ITEM*,
               MORVANE_ITEM*, MORVANE_ITEM*) {
  STOREerr(STORE_F_MEM_MODIFY, STORE_R_NOT_IMPLEMENTED);
  return 0;
}

int mem_delete(STORE*, STORE_OBJECT_TYPES, MORVANE_ITEM*, MORVANE_ITEM*) {
  STOREerr(STORE_F_MEM_DELETE, STORE_R_NOT_IMPLEMENTED);
  return 0;
}

void* mem_list_start(STORE*, STORE_OBJECT_TYPES, MORVANE_ITEM* attributes, MORVANE_ITEM*) {
  auto* ctx = static_cast<MemContext*>(MORVANE_malloc(sizeof(MemContext)));
  if (ctx == nullptr) {
    STOREerr(STORE_F_MEM_LIST_START, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  *ctx = MemContext{};
  void* parse = STORE_parse_attrs_start(attributes);
  if (parse == nullptr) {
    STOREerr(STORE_F_MEM_LIST_START, ERR_R_STORE_LIB);
    release_context(ctx);
    return nullptr;
  }
  bool ok = true;
  STORE_ATTR_INFO* record;
  while (ok && (record = STORE_parse_attrs_next(parse)) != nullptr) {
    if (ctx->search_attributes == nullptr &&
        (ctx->search_attributes = sk_new(compare_records)) == nullptr) {
      STOREerr(STORE_F_MEM_LIST_START, ERR_R_MALLOC_FAILURE);
      STORE_ATTR_INFO_free(record);
      ok = false;
    } else if (!sk_push(ctx->search_attributes, reinterpret_cast<char*>(record))) {
      STOREerr(STORE_F_MEM_LIST_START, ERR_R_MALLOC_FAILURE);
      STORE_ATTR_INFO_free(record);
      ok = false;
    }
  }
  // A parse that stopped before the end met an empty group or failed.
  if (ok && !STORE_parse_attrs_endp(parse)) ok = false;
  STORE_parse_attrs_end(parse);
  if (!ok) {
    release_context(ctx);
    return nullptr;
  }
  ctx->search_index = -1;
  ctx->index = -1;
  return ctx;
}

// Nothing in the library installs store data, so a listing has nothing to
// walk; data that something else placed in the slot is not searched either
// (the walk over it has no settled form), which is reported as such.
STORE_OBJECT* mem_list_next(STORE* s, void* handle) {
  if (handle == nullptr) {
    STOREerr(STORE_F_MEM_LIST_NEXT, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (STORE_get_ex_data(s, kDataIndex) == nullptr) {
    STOREerr(STORE_F_MEM_LIST_NEXT, STORE_R_NO_STORE);
    return nullptr;
  }
  STOREerr(STORE_F_MEM_LIST_NEXT, STORE_R_NOT_IMPLEMENTED);
  return nullptr;
}

int mem_list_end(STORE*, void* handle) {
  if (handle == nullptr) {
    STOREerr(STORE_F_MEM_LIST_END, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  release_context(static_cast<MemContext*>(handle));
  return 1;
}

// At the end when the search has passed every search record; a listing
// without search records (an absent stack counts as -1) is at its end from
// the start.
int mem_list_endp(STORE*, void* handle) {
  if (handle == nullptr) return 1;
  const auto* ctx = static_cast<const MemContext*>(handle);
  const int records = ctx->search_attributes == nullptr ? -1 : sk_num(ctx->search_attributes);
  return ctx->search_index == records;
}

// A listing of one step.
STORE_OBJECT* mem_get(STORE* s, STORE_OBJECT_TYPES type, MORVANE_ITEM* attributes,
                      MORVANE_ITEM* parameters) {
  void* ctx = mem_list_start(s, type, attributes, parameters);
  if (ctx == nullptr) return nullptr;
  STORE_OBJECT* obj = mem_list_next(s, ctx);
  if (!mem_list_end(s, ctx)) {
    STORE_OBJECT_free(obj);
    return nullptr;
  }
  return obj;
}

int mem_lock(STORE*, MORVANE_ITEM*, MORVANE_ITEM*) {
  return 1;
}

int mem_unlock(STORE*, MORVANE_ITEM*, MORVANE_ITEM*) {
  return 1;
}

int mem_ctrl(STORE*, int, long, void*, void (*)(void)) {
  return 1;
}

constinit char kMemoryName[] = "Morvane memory store interface";

constinit const STORE_METHOD kMemory = {
    kMemoryName,   mem_init, mem_clean,  mem_generate,   mem_get,       mem_store,
    mem_modify,    nullptr,  mem_delete, mem_list_start, mem_list_next, mem_list_end,
    mem_list_endp, nullptr,  mem_lock,   mem_unlock,     mem_ctrl,
};

}  // namespace

/* see morvane/store.h */
const STORE_METHOD* STORE_Memory(void) {
  return &kMemory;
}
