// The memory method: a skeleton back end without objects of its own.

#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/store.h>

#include "test_support.h"

namespace {

MORVANE_ITEM Text(int code, const char* text) {
  return {code, const_cast<char*>(text), strlen(text), nullptr};
}
constexpr MORVANE_ITEM kEnd = {STORE_ATTR_END, nullptr, 0, nullptr};
constexpr MORVANE_ITEM kOr = {STORE_ATTR_OR, nullptr, 0, nullptr};

class MemoryStore : public testing::Test {
 protected:
  void SetUp() override {
    s_ = STORE_new_method(STORE_Memory());
    ASSERT_NE(s_, nullptr);
  }
  void TearDown() override { STORE_free(s_); }
  STORE* s_ = nullptr;
};

TEST_F(MemoryStore, NameAndSlots) {
  const STORE_METHOD* m = STORE_Memory();
  EXPECT_STREQ(m->name, "Morvane memory store interface");
  EXPECT_EQ(m->revoke_object, nullptr);
  EXPECT_EQ(m->update_store, nullptr);
  EXPECT_EQ(m->lock_store(s_, nullptr, nullptr), 1);
  EXPECT_EQ(m->unlock_store(s_, nullptr, nullptr), 1);
  EXPECT_EQ(m->list_object_endp(s_, nullptr), 1);
  EXPECT_EQ(m->list_object_end(s_, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_MEM_LIST_END, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(m->list_object_next(s_, nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_MEM_LIST_NEXT, ERR_R_PASSED_NULL_PARAMETER}});
  for (int cmd : {0, 1, -7, 1000}) EXPECT_EQ(STORE_ctrl(s_, cmd, 0, nullptr, nullptr), 1);
}

// The operations the method does not implement: its own reason, then the
// front end's.
TEST_F(MemoryStore, NotImplemented) {
  MORVANE_ITEM none[] = {kEnd};
  BIGNUM* n = BN_new();
  struct {
    const char* name;
    bool ok;
    int mem_func;
    int func;
    int reason;
  } const cases[] = {
      {"store_certificate", STORE_store_certificate(s_, nullptr, none, none) == 1,
       STORE_F_MEM_STORE, STORE_F_STORE_STORE_CERTIFICATE, STORE_R_FAILED_STORING_CERTIFICATE},
      {"generate_key", STORE_generate_key(s_, none, none) != nullptr, STORE_F_MEM_GENERATE,
       STORE_F_STORE_GENERATE_KEY, STORE_R_FAILED_GENERATING_KEY},
      {"modify_number", STORE_modify_number(s_, none, none, none, none, none) == 1,
       STORE_F_MEM_MODIFY, STORE_F_STORE_MODIFY_NUMBER, STORE_R_FAILED_MODIFYING_NUMBER},
      {"delete_crl", STORE_delete_crl(s_, none, none) == 1, STORE_F_MEM_DELETE,
       STORE_F_STORE_DELETE_CRL, STORE_R_FAILED_DELETING_KEY},
      {"store_number", STORE_store_number(s_, n, none, none) == 1, STORE_F_MEM_STORE,
       STORE_F_STORE_STORE_NUMBER, STORE_R_FAILED_STORING_NUMBER},
  };
  BN_free(n);
  // The calls above ran in order; their errors are on the queue in pairs.
  std::vector<morvane_test::ErrEntry> want;
  for (const auto& c : cases) {
    EXPECT_FALSE(c.ok) << c.name;
    want.push_back({ERR_LIB_STORE, c.mem_func, STORE_R_NOT_IMPLEMENTED});
    want.push_back({ERR_LIB_STORE, c.func, c.reason});
  }
  EXPECT_ERRORS(want);
}

TEST_F(MemoryStore, NoRevoke) {
  EXPECT_EQ(STORE_revoke_certificate(s_, nullptr, nullptr), 0);
  EXPECT_ERRORS(
      {{ERR_LIB_STORE, STORE_F_STORE_REVOKE_CERTIFICATE, STORE_R_NO_REVOKE_OBJECT_FUNCTION}});
}

TEST_F(MemoryStore, ListingWithoutStoreData) {
  MORVANE_ITEM only_end[] = {kEnd};
  void* h = STORE_list_certificate_start(s_, only_end, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(STORE_list_certificate_endp(s_, h), 1);
  EXPECT_EQ(STORE_list_certificate_next(s_, h), nullptr);
  EXPECT_ERRORS(
      {{ERR_LIB_STORE, STORE_F_MEM_LIST_NEXT, STORE_R_NO_STORE},
       {ERR_LIB_STORE, STORE_F_STORE_LIST_CERTIFICATE_NEXT, STORE_R_FAILED_LISTING_CERTIFICATES}});
  EXPECT_EQ(STORE_list_certificate_end(s_, h), 1);

  // A get is a listing of one step.
  MORVANE_ITEM by_name[] = {Text(STORE_ATTR_FRIENDLYNAME, "x"), kEnd};
  EXPECT_EQ(STORE_get_certificate(s_, by_name, nullptr), nullptr);
  EXPECT_ERRORS(
      {{ERR_LIB_STORE, STORE_F_MEM_LIST_NEXT, STORE_R_NO_STORE},
       {ERR_LIB_STORE, STORE_F_STORE_GET_CERTIFICATE, STORE_R_FAILED_GETTING_CERTIFICATE}});
}

// Search lists: which start, and whether the listing is at its end at once
// (it is exactly when there is no search record).
TEST_F(MemoryStore, SearchLists) {
  struct {
    const char* name;
    std::vector<MORVANE_ITEM> list;
    bool starts;
    int endp;
  } const cases[] = {
      {"end only", {kEnd}, true, 1},
      {"or, end", {kOr, kEnd}, true, 1},
      {"two groups",
       {Text(STORE_ATTR_FRIENDLYNAME, "x"), kOr, Text(STORE_ATTR_EMAIL, "y"), kEnd},
       true,
       0},
      {"empty group before the end",
       {Text(STORE_ATTR_FRIENDLYNAME, "x"), kOr, kOr, Text(STORE_ATTR_EMAIL, "y"), kEnd},
       false,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<MORVANE_ITEM> list = c.list;
    void* h = STORE_list_certificate_start(s_, list.data(), nullptr);
    EXPECT_EQ(h != nullptr, c.starts);
    if (h == nullptr) {
      EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_LIST_CERTIFICATE_START,
                      STORE_R_FAILED_LISTING_CERTIFICATES}});
      continue;
    }
    EXPECT_EQ(STORE_list_certificate_endp(s_, h), c.endp);
    if (c.endp == 0) {
      EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_LIST_CERTIFICATE_ENDP,
                      STORE_R_FAILED_LISTING_CERTIFICATES}});
    }
    EXPECT_EQ(STORE_list_certificate_end(s_, h), 1);
    EXPECT_ERRORS({});
  }
  // A null search list cannot be parsed.
  EXPECT_EQ(STORE_list_crl_start(s_, nullptr, nullptr), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_STORE_PARSE_ATTRS_START, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_STORE, STORE_F_MEM_LIST_START, ERR_R_STORE_LIB},
                 {ERR_LIB_STORE, STORE_F_STORE_LIST_CRL_START, STORE_R_FAILED_LISTING_KEYS}});
}

// Store data placed by something outside the library is not walked: the
// listing says so instead of answering as if the store were empty.
TEST_F(MemoryStore, StoreDataIsNotWalked) {
  int data = 0;
  ASSERT_EQ(STORE_set_ex_data(s_, 1, &data), 1);
  MORVANE_ITEM only_end[] = {kEnd};
  void* h = STORE_list_public_key_start(s_, only_end, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(STORE_list_public_key_next(s_, h), nullptr);
  EXPECT_ERRORS({{ERR_LIB_STORE, STORE_F_MEM_LIST_NEXT, STORE_R_NOT_IMPLEMENTED},
                 {ERR_LIB_STORE, STORE_F_STORE_LIST_PUBLIC_KEY_NEXT, STORE_R_FAILED_LISTING_KEYS}});
  EXPECT_EQ(STORE_list_public_key_end(s_, h), 1);
}

}  // namespace
