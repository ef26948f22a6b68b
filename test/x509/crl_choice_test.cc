// Which revocation list decides when an issuer has several: of those its
// own key signed, the newest in time (lists issued at one moment ordered by
// cRLNumber, then revoking first), whatever the order in which they reached
// the verifier (the store, the context's list, a hashed directory's .r0 and
// .r1) and whatever the store held before (a directory's lists are read
// again when they change).
// GnuTLS's certtool --verify gives the same verdicts where a list is in
// time (an expired list alone it passes over; the verifier reports it, as
// before).  Delta lists: PKITS 4.15, with the lists in either order, in
// pkits_verify_test.cc.

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "cert_builder.h"
#include "der_util.h"
#include "key_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;

constexpr time_t kMoment = 1609459200;  // 2021-01-01 00:00:00 UTC
constexpr time_t kDay = 86400;
const morvane_test::Bytes kCaTrue = {0x30, 0x03, 0x01, 0x01, 0xFF};
// RFC 5280, 4.2.1.1, 4.2.1.2 and 5.2.3: the root's subjectKeyIdentifier
// 0102, an authorityKeyIdentifier naming the key 0304, cRLNumber 1 and 2.
const morvane_test::CertExt kRootKeyId{82, false, {0x04, 0x02, 0x01, 0x02}};
const morvane_test::CertExt kOtherKeyId{90, false, {0x30, 0x04, 0x80, 0x02, 0x03, 0x04}};
const morvane_test::CertExt kNumber1{88, false, {0x02, 0x01, 0x01}};
const morvane_test::CertExt kNumber2{88, false, {0x02, 0x01, 0x02}};

enum Via { kStore, kContext, kDir };

// A list placed one way; the lists: 'A' two days old, good for five more,
// not listing the leaf; 'B' a minute old, good for a week, revoking it;
// 'X' expired ten days ago.  Newer than both, not listing the leaf and
// signed by another key: 'O' names that key as its authority, 'F' names
// none (a forgery).  A day old, issued at one moment: 'T' revoking the
// leaf and 'U' not, both number 1, and 'N' not, number 2; 'V' is 'T'
// forged.
struct Placed {
  char crl;
  Via via;
};

struct Case {
  const char* name;
  std::vector<Placed> crls;  // in the order added
  int expected;
  int error;
};

X509_CRL* List(char which) {
  using morvane_test::MakeCrl;
  switch (which) {
    case 'A':
      return MakeCrl("Root", {}, kMoment - 2 * kDay, kMoment + 5 * kDay);
    case 'B':
      return MakeCrl("Root", {{5, {}}}, kMoment - 60, kMoment + 7 * kDay);
    case 'O':
      return MakeCrl("Root", {}, kMoment - 30, kMoment + 7 * kDay, {kOtherKeyId},
                     x509_test::RsaKey2());
    case 'F':
      return MakeCrl("Root", {}, kMoment - 30, kMoment + 7 * kDay, {}, x509_test::RsaKey2());
    case 'T':
      return MakeCrl("Root", {{5, {}}}, kMoment - kDay, kMoment + 5 * kDay, {kNumber1});
    case 'U':
      return MakeCrl("Root", {}, kMoment - kDay, kMoment + 5 * kDay, {kNumber1});
    case 'N':
      return MakeCrl("Root", {}, kMoment - kDay, kMoment + 5 * kDay, {kNumber2});
    case 'V':
      return MakeCrl("Root", {{5, {}}}, kMoment - kDay, kMoment + 5 * kDay, {kNumber1},
                     x509_test::RsaKey2());
    default:
      return MakeCrl("Root", {}, kMoment - 20 * kDay, kMoment - 10 * kDay);
  }
}

// Writes crl as DER to <dir>/<hash of Root>.r<n>, over any file there.
void WriteList(const morvane_test::TempPath& dir, int n, X509_CRL* crl) {
  char name[32];
  snprintf(name, sizeof name, "%08lx.r%d", X509_NAME_hash(crl->crl->issuer), n);
  const Bytes der = x509_test::Encode(i2d_X509_CRL, crl);
  morvane_test::WriteFile(dir.Join(name), std::string(der.begin(), der.end()));
}

// The certificates: Root (in the store) issues Leaf, serial 5.
struct Pair {
  Pair()
      : root(morvane_test::MakeCert({"Root", "", 2, 1, {{87, true, kCaTrue}, kRootKeyId}})),
        leaf(morvane_test::MakeCert({"Leaf", "Root", 2, 5, {}})) {}
  ~Pair() {
    X509_free(leaf);
    X509_free(root);
  }
  X509* root;
  X509* leaf;
};

// A store holding root, with a hashed-directory lookup over dir.
X509_STORE* DirStore(X509* root, const morvane_test::TempPath& dir,
                     int file_type = X509_FILETYPE_ASN1) {
  X509_STORE* store = X509_STORE_new();
  EXPECT_EQ(1, X509_STORE_add_cert(store, root));
  X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
  EXPECT_EQ(1, X509_LOOKUP_add_dir(lu, dir.c_str(), file_type));
  return store;
}

struct Outcome {
  int result;
  int error;
  bool operator==(const Outcome&) const = default;
};

// Verifies leaf against store at kMoment with the revocation check, the
// context given the lists `listed` (may be null) and the callback cb (when
// not null).
Outcome Verify(X509_STORE* store, X509* leaf, STACK* listed,
               int (*cb)(int, X509_STORE_CTX*) = nullptr) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  EXPECT_EQ(1, X509_STORE_CTX_init(ctx, store, leaf, nullptr));
  if (cb != nullptr) X509_STORE_CTX_set_verify_cb(ctx, cb);
  X509_STORE_CTX_set0_crls(ctx, listed);
  X509_STORE_CTX_set_time(ctx, 0, kMoment);
  X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK);
  const Outcome out{X509_verify_cert(ctx), X509_STORE_CTX_get_error(ctx)};
  X509_STORE_CTX_free(ctx);
  return out;
}

class CrlChoice : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { Morvane_add_all_digests(); }
};

constexpr int kRevoked = X509_V_ERR_CERT_REVOKED;

// A soft-fail policy: no list is no reason to refuse.
int AcceptNoList(int ok, X509_STORE_CTX* ctx) {
  return ok || X509_STORE_CTX_get_error(ctx) == X509_V_ERR_UNABLE_TO_GET_CRL;
}

TEST_P(CrlChoice, NewestInTimeDecides) {
  const Case& c = GetParam();
  Pair p;
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  X509_STORE* store = DirStore(p.root, dir);
  STACK* listed = sk_new_null();
  int files = 0;
  for (const Placed& at : c.crls) {
    X509_CRL* crl = List(at.crl);
    if (at.via == kStore) {
      EXPECT_EQ(1, X509_STORE_add_crl(store, crl));
    }
    if (at.via == kDir) WriteList(dir, files++, crl);
    if (at.via == kContext) {
      sk_push(listed, reinterpret_cast<char*>(crl));
    } else {
      X509_CRL_free(crl);
    }
  }
  const Outcome out = Verify(store, p.leaf, listed);
  EXPECT_EQ(c.expected, out.result);
  EXPECT_EQ(c.error, out.error);
  if (c.error == X509_V_ERR_CRL_SIGNATURE_FAILURE) {
    morvane_test::DrainErrors();  // what the failed signature check queued
  } else {
    EXPECT_ERRORS({});
  }
  sk_pop_free(listed, [](void* l) { X509_CRL_free(static_cast<X509_CRL*>(l)); });
  X509_STORE_free(store);
}

const Case kCases[] = {
    {"StoreAThenB", {{'A', kStore}, {'B', kStore}}, 0, kRevoked},
    {"StoreBThenA", {{'B', kStore}, {'A', kStore}}, 0, kRevoked},
    {"ContextAThenB", {{'A', kContext}, {'B', kContext}}, 0, kRevoked},
    {"ContextBThenA", {{'B', kContext}, {'A', kContext}}, 0, kRevoked},
    {"DirAThenB", {{'A', kDir}, {'B', kDir}}, 0, kRevoked},
    {"DirBThenA", {{'B', kDir}, {'A', kDir}}, 0, kRevoked},
    {"ContextAStoreB", {{'A', kContext}, {'B', kStore}}, 0, kRevoked},
    {"StoreADirB", {{'A', kStore}, {'B', kDir}}, 0, kRevoked},
    {"ContextADirB", {{'A', kContext}, {'B', kDir}}, 0, kRevoked},
    {"StoreExpiredThenA", {{'X', kStore}, {'A', kStore}}, 1, X509_V_OK},
    {"ContextExpiredThenA", {{'X', kContext}, {'A', kContext}}, 1, X509_V_OK},
    {"DirExpiredThenA", {{'X', kDir}, {'A', kDir}}, 1, X509_V_OK},
    {"OnlyExpired", {{'X', kStore}}, 0, X509_V_ERR_CRL_HAS_EXPIRED},
    // Another key's newer list, and a newer forgery, are passed over.
    {"StoreAThenOtherKeys", {{'A', kStore}, {'O', kStore}}, 1, X509_V_OK},
    {"ContextOtherKeysThenA", {{'O', kContext}, {'A', kContext}}, 1, X509_V_OK},
    {"StoreBThenOtherKeys", {{'B', kStore}, {'O', kStore}}, 0, kRevoked},
    {"StoreAThenForged", {{'A', kStore}, {'F', kStore}}, 1, X509_V_OK},
    {"ContextForgedThenB", {{'F', kContext}, {'B', kContext}}, 0, kRevoked},
    {"DirBThenForged", {{'B', kDir}, {'F', kDir}}, 0, kRevoked},
    {"OnlyOtherKeys", {{'O', kStore}}, 0, X509_V_ERR_UNABLE_TO_GET_CRL},
    {"OnlyForged", {{'F', kStore}}, 0, X509_V_ERR_CRL_SIGNATURE_FAILURE},
    // Issued at one moment: the higher number, else the revoking one.
    {"StoreTiedRevokingFirst", {{'T', kStore}, {'U', kStore}}, 0, kRevoked},
    {"StoreTiedRevokingLast", {{'U', kStore}, {'T', kStore}}, 0, kRevoked},
    {"ContextTiedRevokingLast", {{'U', kContext}, {'T', kContext}}, 0, kRevoked},
    {"StoreTiedHigherNumberFirst", {{'N', kStore}, {'T', kStore}}, 1, X509_V_OK},
    {"ContextTiedHigherNumberLast", {{'T', kContext}, {'N', kContext}}, 1, X509_V_OK},
    // A forged list ranked first among tied ones fails its check; the
    // next one verified decides.
    {"ContextTiedForgedRevokingFirst", {{'V', kContext}, {'U', kContext}}, 1, X509_V_OK},
    {"StoreTiedForgedRevokingLast", {{'U', kStore}, {'V', kStore}}, 1, X509_V_OK},
};

INSTANTIATE_TEST_SUITE_P(Orders, CrlChoice, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A long-lived store over a hashed directory: the newer list counts when it
// arrives after the store's first use, in a new .r1 or written over .r0.
TEST(CrlChoiceDir, AListWrittenAfterTheFirstUseCounts) {
  Morvane_add_all_digests();
  for (const int file : {1, 0}) {
    Pair p;
    morvane_test::TempPath dir(morvane_test::TempPath::kDir);
    X509_CRL* a = List('A');
    X509_CRL* b = List('B');
    WriteList(dir, 0, a);
    X509_STORE* store = DirStore(p.root, dir);
    const Outcome before = Verify(store, p.leaf, nullptr);
    EXPECT_EQ(1, before.result) << file;
    WriteList(dir, file, b);
    const Outcome after = Verify(store, p.leaf, nullptr);
    EXPECT_EQ(0, after.result) << file;
    EXPECT_EQ(kRevoked, after.error) << file;
    EXPECT_ERRORS({});
    X509_STORE_free(store);
    X509_CRL_free(b);
    X509_CRL_free(a);
  }
}

// A directory file (PEM) whose first list the store holds already is read
// to its end, so the newer list after it counts.
TEST(CrlChoiceDir, AFileStartingWithAHeldListIsReadToTheEnd) {
  Morvane_add_all_digests();
  Pair p;
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  X509_CRL* a = List('A');
  X509_CRL* b = List('B');
  char name[32];
  snprintf(name, sizeof name, "%08lx.r0", X509_NAME_hash(X509_get_subject_name(p.root)));
  FILE* f = fopen(dir.Join(name).c_str(), "w");
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(1, PEM_write_X509_CRL(f, a));
  EXPECT_EQ(1, PEM_write_X509_CRL(f, b));
  fclose(f);
  X509_STORE* store = DirStore(p.root, dir, X509_FILETYPE_PEM);
  ASSERT_EQ(1, X509_STORE_add_crl(store, a));
  const Outcome out = Verify(store, p.leaf, nullptr);
  EXPECT_EQ(0, out.result);
  EXPECT_EQ(kRevoked, out.error);
  EXPECT_ERRORS({});
  X509_STORE_free(store);
  X509_CRL_free(b);
  X509_CRL_free(a);
}

// A directory file that does not load is passed over: the next list
// decides, and what the broken file queued goes once a list is found.
TEST(CrlChoiceDir, ABrokenFileIsPassedOver) {
  Morvane_add_all_digests();
  Pair p;
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  char name[32];
  snprintf(name, sizeof name, "%08lx.r0", X509_NAME_hash(X509_get_subject_name(p.root)));
  morvane_test::WriteFile(dir.Join(name), std::string("\x30\x05\x02\x01", 4));  // cut short
  X509_CRL* b = List('B');
  WriteList(dir, 1, b);
  X509_STORE* store = DirStore(p.root, dir);
  const Outcome out = Verify(store, p.leaf, nullptr);
  EXPECT_EQ(0, out.result);
  EXPECT_EQ(kRevoked, out.error);
  EXPECT_ERRORS({});
  X509_STORE_free(store);
  X509_CRL_free(b);
}

// A lookup method that asks to be retried for lists may hold a newer one
// than the store's: no list decides, and the verifier reports none.
TEST(CrlChoiceDir, ALookupAskingForARetryLeavesNoList) {
  Morvane_add_all_digests();
  X509_LOOKUP_METHOD retry{};
  retry.name = "retry";
  retry.get_by_subject = [](X509_LOOKUP*, int type, X509_NAME*, X509_OBJECT*) {
    return type == X509_LU_CRL ? X509_LU_RETRY : X509_LU_FAIL;
  };
  Pair p;
  X509_STORE* store = X509_STORE_new();
  ASSERT_EQ(1, X509_STORE_add_cert(store, p.root));
  X509_CRL* a = List('A');
  ASSERT_EQ(1, X509_STORE_add_crl(store, a));
  X509_CRL_free(a);
  ASSERT_NE(nullptr, X509_STORE_add_lookup(store, &retry));
  const Outcome out = Verify(store, p.leaf, nullptr);
  EXPECT_EQ(0, out.result);
  EXPECT_EQ(X509_V_ERR_UNABLE_TO_GET_CRL, out.error);
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_VERIFY_CERT, X509_R_SHOULD_RETRY}});
  X509_STORE_free(store);
}

// For the scope, the root's permission overrides leave its effective
// capabilities (they stay permitted), so that it too cannot read a file
// whose mode forbids it.
struct NoPermissionOverride {
  NoPermissionOverride() {
    if (geteuid() != 0 || syscall(SYS_capget, &head, was) != 0) return;
    __user_cap_data_struct now[2] = {was[0], was[1]};
    now[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped = syscall(SYS_capset, &head, now) == 0;
  }
  ~NoPermissionOverride() {
    if (dropped) syscall(SYS_capset, &head, was);
  }
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct was[2]{};
  bool dropped = false;
};

// For the scope, every descriptor taken under a lowered limit.
struct NoDescriptors {
  NoDescriptors() {
    getrlimit(RLIMIT_NOFILE, &was);
    struct rlimit low = was;
    low.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &low);
    for (int fd; (fd = dup(0)) >= 0;) taken.push_back(fd);
  }
  ~NoDescriptors() {
    for (int fd : taken) close(fd);
    setrlimit(RLIMIT_NOFILE, &was);
  }
  struct rlimit was;
  std::vector<int> taken;
};

// A list file that cannot be opened (no descriptor left) is no "no list":
// the search fails while it cannot be read (error 3, "should retry"), and
// reads it at the next lookup, where it revokes.
TEST(CrlChoiceDir, AFileThatCouldNotBeOpenedIsReadNextTime) {
  Morvane_add_all_digests();
  Pair p;
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  X509_CRL* a = List('A');
  X509_CRL* b = List('B');
  WriteList(dir, 0, a);
  X509_STORE* store = DirStore(p.root, dir);
  EXPECT_EQ((Outcome{1, X509_V_OK}), Verify(store, p.leaf, nullptr));
  WriteList(dir, 1, b);
  Outcome starved;
  {
    const NoDescriptors none;
    starved = Verify(store, p.leaf, nullptr);
  }
  EXPECT_EQ((Outcome{0, X509_V_ERR_UNABLE_TO_GET_CRL}), starved);
  EXPECT_NE("", morvane_test::DrainErrors());
  EXPECT_EQ((Outcome{0, kRevoked}), Verify(store, p.leaf, nullptr));
  EXPECT_ERRORS({});
  X509_STORE_free(store);
  X509_CRL_free(b);
  X509_CRL_free(a);
}

// A directory file that cannot be read, or a broken entry, never hides a
// list in hand that revokes (in the store, the context or another file):
// 23, also under a callback that accepts 3.  Without one the check fails
// with 3, the file named; a FIFO or a device is never opened (a watchdog
// fails a verification that hangs).  The entries of <hash of Root>.rN in
// order: 'A' and 'B' as in List, 'L' a list no one may read, 'D' a
// dangling link, 'P' a FIFO, 'Z' a link to /dev/zero; <hash>.N likewise,
// 'R' the root itself (then the store lacks it).
TEST(CrlChoiceDir, BrokenEntriesHideNoListInHand) {
  Morvane_add_all_digests();
  const struct {
    const char* name;
    const char* lists;
    const char* certs;
    Via revoking;  // where 'B' is besides the files; kDir: nowhere else
    bool starved;
    bool soft;
    Outcome want;
  } rows[] = {
      {"locked-store", "LA", "", kStore, false, false, {0, kRevoked}},
      {"locked-store-soft", "LA", "", kStore, false, true, {0, kRevoked}},
      {"locked-context-soft", "L", "", kContext, false, true, {0, kRevoked}},
      {"locked-next-file-soft", "LB", "", kDir, false, true, {0, kRevoked}},
      {"locked-alone", "LA", "", kDir, false, false, {0, X509_V_ERR_UNABLE_TO_GET_CRL}},
      {"locked-removed", "A", "", kDir, false, false, {1, X509_V_OK}},
      {"starved-store-soft", "A", "", kStore, true, true, {0, kRevoked}},
      {"starved-context", "A", "", kContext, true, false, {0, kRevoked}},
      {"starved-alone", "A", "", kDir, true, false, {0, X509_V_ERR_UNABLE_TO_GET_CRL}},
      {"dangling-between", "ADB", "", kDir, false, false, {0, kRevoked}},
      {"dangling-between-soft", "ADB", "", kDir, false, true, {0, kRevoked}},
      {"dangling-alone", "AD", "", kDir, false, false, {0, X509_V_ERR_UNABLE_TO_GET_CRL}},
      {"fifo-first", "PB", "", kDir, false, true, {0, kRevoked}},
      {"fifo-alone", "PA", "", kDir, false, false, {0, X509_V_ERR_UNABLE_TO_GET_CRL}},
      {"zero-first", "ZB", "", kDir, false, true, {0, kRevoked}},
      {"cert-fifo", "A", "PR", kDir, false, false, {1, X509_V_OK}},
      {"cert-zero", "A", "ZR", kDir, false, false, {1, X509_V_OK}},
      {"cert-dangling", "A", "DR", kDir, false, false, {1, X509_V_OK}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Pair p;
    morvane_test::TempPath dir(morvane_test::TempPath::kDir);
    ASSERT_EQ(0, chmod(dir.c_str(), 0755));
    X509_CRL* a = List('A');
    X509_CRL* b = List('B');
    const unsigned long h = X509_NAME_hash(X509_get_subject_name(p.root));
    std::string locked, dangling;
    for (const char* set : {r.lists, r.certs}) {
      for (int n = 0; set[n] != '\0'; n++) {
        char name[32];
        snprintf(name, sizeof name, set == r.lists ? "%08lx.r%d" : "%08lx.%d", h, n);
        const std::string path = dir.Join(name);
        const char c = set[n];
        const Bytes der = c == 'R' ? x509_test::Encode(i2d_X509, p.root)
                                   : x509_test::Encode(i2d_X509_CRL, c == 'B' ? b : a);
        if (c == 'A' || c == 'B' || c == 'L' || c == 'R')
          morvane_test::WriteFile(path, std::string(der.begin(), der.end()));
        if (c == 'L') chmod((locked = path).c_str(), 0);
        if (c == 'D') symlink(dir.Join("gone").c_str(), (dangling = path).c_str());
        if (c == 'P') mkfifo(path.c_str(), 0644);
        if (c == 'Z') symlink("/dev/zero", path.c_str());
      }
    }
    X509_STORE* store = X509_STORE_new();
    if (r.certs[0] == '\0') X509_STORE_add_cert(store, p.root);
    X509_LOOKUP* lu = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
    X509_LOOKUP_add_dir(lu, dir.c_str(), X509_FILETYPE_ASN1);
    if (r.revoking == kStore) X509_STORE_add_crl(store, b);
    STACK* listed = sk_new_null();
    if (r.revoking == kContext) sk_push(listed, reinterpret_cast<char*>(b));
    Outcome out = r.want;  // when the overrides stay, the locked rows cannot run
    bool run = true;
    alarm(20);  // a verification that blocks or spins fails the run
    {
      const NoPermissionOverride unprivileged;
      const int fd = locked.empty() ? -1 : open(locked.c_str(), O_RDONLY);
      if (fd >= 0) run = close(fd) != 0;
      if (run && r.starved) {
        const NoDescriptors none;
        out = Verify(store, p.leaf, listed, r.soft ? AcceptNoList : nullptr);
      } else if (run) {
        out = Verify(store, p.leaf, listed, r.soft ? AcceptNoList : nullptr);
      }
    }
    alarm(0);
    EXPECT_EQ(r.want, out);
    // Where the locked file fails the check: the path and the system's
    // error (its text is that of its number) queued.
    // A dangling link: the failed stat, named.  "Should retry" only where a
    // retry may read the file (not a dangling link, a FIFO or a device).
    bool refused = false, named = false, stat_failed = false, retry = false;
    const char* data;
    int flags;
    for (unsigned long e; (e = ERR_get_error_line_data(nullptr, nullptr, &data, &flags)) != 0;) {
      refused |= e == ERR_PACK(ERR_LIB_SYS, SYS_F_FOPEN, EACCES);
      named |= (flags & ERR_TXT_STRING) && strstr(data, locked.c_str()) != nullptr;
      stat_failed |= e == ERR_PACK(ERR_LIB_SYS, SYS_F_STAT, ENOENT) &&
                     strstr(data, ("stat('" + dangling + "')").c_str()) != nullptr;
      retry |= ERR_GET_REASON(e) == X509_R_SHOULD_RETRY;
    }
    if (run && !locked.empty() && out.error == X509_V_ERR_UNABLE_TO_GET_CRL) {
      EXPECT_TRUE(refused && named);
    }
    if (run && out.error == X509_V_ERR_UNABLE_TO_GET_CRL) {
      EXPECT_EQ(locked.empty() && !r.starved, !retry);
    }
    if (!dangling.empty() && r.certs[0] == '\0') {
      EXPECT_TRUE(stat_failed);
    }
    sk_free(listed);
    X509_STORE_free(store);
    X509_CRL_free(b);
    X509_CRL_free(a);
  }
}

// A file of the directory that has not changed since it was loaded is not
// decoded again: a second verification allocates far less than the list's
// entries would need.
TEST(CrlChoiceDir, AnUnchangedFileIsNotReadAgain) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Morvane_add_all_digests();
  constexpr long kEntries = 1000;
  std::vector<morvane_test::CrlEntry> entries;
  for (long serial = 100; serial < 100 + kEntries; serial++) entries.push_back({serial, {}});
  Pair p;
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  X509_CRL* big = morvane_test::MakeCrl("Root", entries, kMoment - kDay, kMoment + kDay);
  WriteList(dir, 0, big);
  X509_CRL_free(big);
  X509_STORE* store = DirStore(p.root, dir);
  EXPECT_EQ(1, Verify(store, p.leaf, nullptr).result);
  const long first = morvane_test::GetAllocCounts().mallocs;
  EXPECT_EQ(1, Verify(store, p.leaf, nullptr).result);
  EXPECT_LT(morvane_test::GetAllocCounts().mallocs - first, kEntries);
  EXPECT_ERRORS({});
  X509_STORE_free(store);
}

// Forged lists packed under the issuer's name (a signed message may carry
// any number), newer than the issuer's own, complete or delta, naming the
// issuer's key or none, never change what the issuer's own lists say: its
// revocation stays error 23 with the default callback and with one that
// accepts only error 3 (a soft-fail policy), and forged complete lists
// alone give 8.  Each forged list costs one signature check, counted as the
// public-key operations of the RSA method, besides kOwnChecks for the
// leaf's and the issuer's lists (built, so no mark spares those); decoded,
// a forged list remembers the key it failed under, and a second run checks
// none of them again.
constexpr int kOwnChecks = 8;

// RFC 5280, 4.2.1.1 and 5.2.4: an authorityKeyIdentifier naming the root's
// key 0102, and a deltaCRLIndicator naming complete list 1.
const morvane_test::CertExt kRootAuthority{90, false, {0x30, 0x04, 0x80, 0x02, 0x01, 0x02}};
const morvane_test::CertExt kDeltaOf1{140, true, {0x02, 0x01, 0x01}};

TEST(CrlChoiceForged, NoNumberOfForgedListsChangesTheVerdict) {
  Morvane_add_all_digests();
  x509_test::CountingRsaPublic public_ops;  // for the keys decoded from here on
  // A key of the test CA's size, so that each forged signature is checked.
  EVP_PKEY* forger = x509_test::NewRsaKey(512);
  const struct {
    const char* name;
    bool delta;    // forged delta lists, beside the issuer's complete and delta list
    bool named;    // the forged lists name the root's key
    bool genuine;  // the issuer's own revoking list is in the store
    int want;
  } rows[] = {
      {"complete", false, true, true, kRevoked},
      {"complete-unnamed", false, false, true, kRevoked},
      {"delta", true, true, true, kRevoked},
      {"delta-unnamed", true, false, true, kRevoked},
      {"complete-alone", false, true, false, X509_V_ERR_CRL_SIGNATURE_FAILURE},
  };
  for (const auto& r : rows) {
    for (int forged : {0, 1, 16, 17, 40, 100}) {
      if (!r.genuine && forged == 0) continue;
      SCOPED_TRACE(std::string(r.name) + " " + std::to_string(forged));
      Pair p;
      X509_STORE* store = X509_STORE_new();
      ASSERT_EQ(1, X509_STORE_add_cert(store, p.root));
      std::vector<X509_CRL*> own;
      if (r.delta) {
        own.push_back(
            morvane_test::MakeCrl("Root", {}, kMoment - 2 * kDay, kMoment + 5 * kDay, {kNumber1}));
        own.push_back(morvane_test::MakeCrl("Root", {{5, {}}}, kMoment - 60, kMoment + kDay,
                                            {kNumber2, kDeltaOf1}));
      } else if (r.genuine) {
        own.push_back(List('B'));
      }
      for (X509_CRL* crl : own) EXPECT_EQ(1, X509_STORE_add_crl(store, crl));
      STACK* listed = sk_new_null();
      if (!r.delta) sk_push(listed, reinterpret_cast<char*>(List('O')));
      std::vector<morvane_test::CertExt> exts;
      if (r.named) exts.push_back(kRootAuthority);
      if (r.delta) exts.push_back(kDeltaOf1);
      for (int i = 0; i < forged; i++) {
        X509_CRL* built =
            morvane_test::MakeCrl("Root", {}, kMoment - 30, kMoment + 7 * kDay, exts, forger);
        sk_push(listed, reinterpret_cast<char*>(x509_test::Decode(
                            d2i_X509_CRL, x509_test::Encode(i2d_X509_CRL, built))));
        X509_CRL_free(built);
      }
      public_ops.reset();
      EXPECT_EQ((Outcome{0, r.want}), Verify(store, p.leaf, listed));
      EXPECT_LE(public_ops.count(), forged + kOwnChecks);
      public_ops.reset();
      EXPECT_EQ((Outcome{0, r.want}), Verify(store, p.leaf, listed, AcceptNoList));
      EXPECT_LE(public_ops.count(), kOwnChecks);
      morvane_test::DrainErrors();  // what the failed signature checks queued
      sk_pop_free(listed, [](void* l) { X509_CRL_free(static_cast<X509_CRL*>(l)); });
      for (X509_CRL* crl : own) X509_CRL_free(crl);
      X509_STORE_free(store);
    }
  }
  EVP_PKEY_free(forger);
}

}  // namespace
