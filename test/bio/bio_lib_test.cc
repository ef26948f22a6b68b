// The stream object: dispatch and its failures, the watcher callback's
// protocol, byte counters, reference counts, chains (push, pop, find, retry,
// copy), BIO_indent and the debug callback.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::NewScriptedStream;
using morvane_test::Script;
using morvane_test::ScriptStep;

// A method table like the scripted stream's, with another type code.
BIO_METHOD WithType(int type, const char* name) {
  BIO_METHOD m = *morvane_test::ScriptedStreamMethod();
  m.type = type;
  m.name = name;
  return m;
}

struct Call {
  BIO* b;
  int oper;
  const void* argp;
  int argi;
  long argl;
  long ret;
  bool operator==(const Call&) const = default;
};
std::vector<Call> g_calls;
long g_cancel_oper = -1;  // operation whose call before is refused
long g_override = 0;      // when non-zero: the result of every call after
long Recorder(BIO* b, int oper, const char* argp, int argi, long argl, long ret) {
  g_calls.push_back({b, oper, argp, argi, argl, ret});
  if (oper == g_cancel_oper) return 0;
  if (oper & BIO_CB_RETURN) return g_override != 0 ? g_override : ret;
  return 1;
}

class BioLib : public ::testing::Test {
 protected:
  void SetUp() override {
    ERR_clear_error();
    g_calls.clear();
    g_cancel_oper = -1;
    g_override = 0;
  }
};

TEST_F(BioLib, NullStreams) {
  EXPECT_EQ(BIO_write(nullptr, "x", 1), 0);
  EXPECT_EQ(BIO_ctrl(nullptr, BIO_CTRL_PENDING, 0, nullptr), 0);
  EXPECT_EQ(BIO_callback_ctrl(nullptr, BIO_CTRL_SET_CALLBACK, nullptr), 0);
  EXPECT_ERRORS({});
  char buf[4];
  EXPECT_EQ(BIO_read(nullptr, buf, 4), -2);
  EXPECT_EQ(BIO_puts(nullptr, "x"), -2);
  EXPECT_EQ(BIO_gets(nullptr, buf, 4), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_READ, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_BIO, BIO_F_BIO_PUTS, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_BIO, BIO_F_BIO_GETS, BIO_R_UNSUPPORTED_METHOD}});
  EXPECT_EQ(BIO_free(nullptr), 0);
  BIO_free_all(nullptr);
  BIO_vfree(nullptr);
  EXPECT_EQ(BIO_number_read(nullptr), 0u);
  EXPECT_EQ(BIO_number_written(nullptr), 0u);
  EXPECT_EQ(BIO_next(nullptr), nullptr);
  EXPECT_EQ(BIO_pop(nullptr), nullptr);
  EXPECT_EQ(BIO_find_type(nullptr, BIO_TYPE_MEM), nullptr);
  EXPECT_EQ(BIO_dup_chain(nullptr), nullptr);
  EXPECT_EQ(BIO_new(nullptr), nullptr);
}

TEST_F(BioLib, UninitialisedStreamRefusesDataButTakesControls) {
  BIO* b = BIO_new(BIO_s_file());
  ASSERT_NE(b, nullptr);
  char buf[4];
  EXPECT_EQ(BIO_read(b, buf, 4), -2);
  EXPECT_EQ(BIO_write(b, "ab", 2), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_READ, BIO_R_UNINITIALIZED},
                 {ERR_LIB_BIO, BIO_F_BIO_WRITE, BIO_R_UNINITIALIZED}});
  FILE* fp = stdout;
  EXPECT_EQ(BIO_get_fp(b, &fp), 1);  // the ctrl reaches the type
  EXPECT_EQ(fp, nullptr);
  EXPECT_EQ(BIO_get_close(b), BIO_CLOSE);
  BIO_free(b);
}

TEST_F(BioLib, MissingSlotsAreUnsupported) {
  BIO* fd = BIO_new(BIO_s_fd());
  char buf[4];
  EXPECT_EQ(BIO_gets(fd, buf, 4), -2);  // the descriptor stream has no gets
  EXPECT_EQ(BIO_callback_ctrl(fd, BIO_CTRL_SET_CALLBACK, nullptr), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GETS, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_BIO, BIO_F_BIO_CALLBACK_CTRL, BIO_R_UNSUPPORTED_METHOD}});
  BIO_free(fd);

  BIO_METHOD bare = WithType(BIO_TYPE_SOURCE_SINK | 0x70, "bare");
  bare.ctrl = nullptr;
  bare.bwrite = nullptr;
  BIO* b = BIO_new(&bare);
  EXPECT_EQ(BIO_ctrl(b, BIO_CTRL_FLUSH, 0, nullptr), -2);
  EXPECT_EQ(BIO_write(b, "x", 1), -2);
  EXPECT_EQ(BIO_ctrl_pending(b), static_cast<size_t>(-2));
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_CTRL, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_BIO, BIO_F_BIO_WRITE, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_BIO, BIO_F_BIO_CTRL, BIO_R_UNSUPPORTED_METHOD}});
  BIO_free(b);
}

TEST_F(BioLib, CallbackSeesEveryOperationAroundIt) {
  BIO* b = NewScriptedStream();
  Script(b).input = "line\nrest";
  BIO_set_callback(b, Recorder);
  char buf[16];
  ASSERT_EQ(BIO_read(b, buf, 3), 3);
  ASSERT_EQ(BIO_write(b, "hello", 5), 5);
  ASSERT_EQ(BIO_puts(b, "hi"), 2);
  ASSERT_EQ(BIO_gets(b, buf, 16), 2);  // "e\n"
  ASSERT_EQ(BIO_ctrl(b, BIO_CTRL_PENDING, 7, buf), 4);
  bio_info_cb* fp = nullptr;
  ASSERT_EQ(BIO_callback_ctrl(b, 99, fp), -2);  // no callback_ctrl slot
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_CALLBACK_CTRL, BIO_R_UNSUPPORTED_METHOD}});
  const std::vector<Call> want = {
      {b, BIO_CB_READ, buf, 3, 0, 1},
      {b, BIO_CB_READ | BIO_CB_RETURN, buf, 3, 0, 3},
      {b, BIO_CB_WRITE, nullptr, 5, 0, 1},  // argp checked below
      {b, BIO_CB_WRITE | BIO_CB_RETURN, nullptr, 5, 0, 5},
      {b, BIO_CB_PUTS, nullptr, 0, 0, 1},
      {b, BIO_CB_PUTS | BIO_CB_RETURN, nullptr, 0, 0, 2},
      {b, BIO_CB_GETS, buf, 16, 0, 1},
      {b, BIO_CB_GETS | BIO_CB_RETURN, buf, 16, 0, 2},
      {b, BIO_CB_CTRL, buf, BIO_CTRL_PENDING, 7, 1},
      {b, BIO_CB_CTRL | BIO_CB_RETURN, buf, BIO_CTRL_PENDING, 7, 4},
  };
  ASSERT_EQ(g_calls.size(), want.size());  // no call for the missing slot
  for (size_t i = 0; i < want.size(); i++) {
    Call got = g_calls[i];
    if (want[i].argp == nullptr) got.argp = nullptr;
    EXPECT_EQ(got, want[i]) << "call " << i;
  }
  EXPECT_EQ(std::string(static_cast<const char*>(g_calls[2].argp), 5), "hello");
  EXPECT_STREQ(static_cast<const char*>(g_calls[4].argp), "hi");

  // BIO_callback_ctrl hands over the address of its function argument.
  BIO* mem = BIO_new(BIO_s_mem());
  BIO_METHOD withcb = *BIO_s_mem();
  withcb.callback_ctrl = [](BIO*, int, bio_info_cb*) -> long { return 5; };
  mem->method = &withcb;
  BIO_set_callback(mem, Recorder);
  g_calls.clear();
  EXPECT_EQ(BIO_callback_ctrl(mem, BIO_CTRL_SET_CALLBACK, fp), 5);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].oper, BIO_CB_CTRL);
  EXPECT_EQ(g_calls[0].argi, BIO_CTRL_SET_CALLBACK);
  EXPECT_EQ(g_calls[0].argl, 0);
  EXPECT_EQ(g_calls[1].ret, 5);
  mem->method = BIO_s_mem();

  // Freeing makes one call, before.
  g_calls.clear();
  BIO_free(b);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0], (Call{b, BIO_CB_FREE, nullptr, 0, 0, 1}));
  BIO_set_callback(mem, nullptr);
  BIO_free(mem);
}

TEST_F(BioLib, CallbackCancelsOrReplacesResults) {
  BIO* b = NewScriptedStream();
  Script(b).input = "0123456789";
  BIO_set_callback(b, Recorder);
  char buf[8];
  g_cancel_oper = BIO_CB_READ;
  EXPECT_EQ(BIO_read(b, buf, 5), 0);
  EXPECT_EQ(Script(b).reads, 0);
  EXPECT_EQ(BIO_number_read(b), 0u);
  EXPECT_EQ(ERR_peek_error(), 0u);
  g_cancel_oper = -1;
  g_override = 7;
  EXPECT_EQ(BIO_read(b, buf, 5), 7);
  EXPECT_EQ(BIO_number_read(b), 5u);  // the real count
  // A cancelled call before the init check reports nothing either.
  b->init = 0;
  g_cancel_oper = BIO_CB_WRITE;
  EXPECT_EQ(BIO_write(b, "x", 1), 0);
  EXPECT_EQ(ERR_peek_error(), 0u);
  b->init = 1;
  // A refused free leaves the stream allocated, its reference dropped.
  g_cancel_oper = BIO_CB_FREE;
  EXPECT_EQ(BIO_free(b), 0);
  EXPECT_EQ(b->references, 0);
  BIO_set_callback(b, nullptr);
  EXPECT_EQ(BIO_free(b), 1);
}

TEST_F(BioLib, Counters) {
  BIO* b = NewScriptedStream();
  Script(b).input = "ab\ncd";
  char buf[8];
  EXPECT_EQ(BIO_gets(b, buf, sizeof(buf)), 3);
  EXPECT_EQ(BIO_number_read(b), 0u);  // gets is not counted
  EXPECT_EQ(BIO_read(b, buf, 8), 2);
  EXPECT_EQ(BIO_number_read(b), 2u);
  EXPECT_EQ(BIO_read(b, buf, 8), 0);
  EXPECT_EQ(BIO_puts(b, "xyz"), 3);
  EXPECT_EQ(BIO_write(b, "12", 2), 2);
  Script(b).write_script = {ScriptStep::Fail()};
  EXPECT_EQ(BIO_write(b, "12", 2), -1);
  EXPECT_EQ(BIO_number_written(b), 5u);
  BIO_free(b);
}

TEST_F(BioLib, ReferenceCounts) {
  bool gone = false;
  BIO* b = NewScriptedStream();
  Script(b).destroyed = &gone;
  CRYPTO_add(&b->references, 1, CRYPTO_LOCK_BIO);
  EXPECT_EQ(BIO_free(b), 1);
  EXPECT_FALSE(gone);
  EXPECT_EQ(b->references, 1);
  EXPECT_EQ(BIO_write(b, "ok", 2), 2);  // still usable
  EXPECT_EQ(BIO_free(b), 1);
  EXPECT_TRUE(gone);

  // A chain whose second stream is shared elsewhere: the walk stops there.
  bool gone1 = false, gone2 = false, gone3 = false;
  BIO* a = NewScriptedStream();
  BIO* m = NewScriptedStream();
  BIO* z = NewScriptedStream();
  Script(a).destroyed = &gone1;
  Script(m).destroyed = &gone2;
  Script(z).destroyed = &gone3;
  BIO_push(BIO_push(a, m), z);
  CRYPTO_add(&m->references, 1, CRYPTO_LOCK_BIO);
  BIO_free_all(a);
  EXPECT_TRUE(gone1);
  EXPECT_FALSE(gone2);
  EXPECT_FALSE(gone3);
  EXPECT_EQ(m->references, 1);
  BIO_free_all(m);
  EXPECT_TRUE(gone2);
  EXPECT_TRUE(gone3);
}

TEST_F(BioLib, FreeWithoutDestroyReleasesTheRecord) {
  // Leak-checked under AddressSanitizer.
  BIO_METHOD m = WithType(BIO_TYPE_SOURCE_SINK | 0x71, "no destroy");
  m.create = [](BIO* b) {
    b->init = 1;
    return 1;
  };
  m.destroy = nullptr;
  BIO* b = BIO_new(&m);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(BIO_free(b), 1);
}

TEST_F(BioLib, FailedCreateGivesNull) {
  BIO_METHOD m = WithType(BIO_TYPE_SOURCE_SINK | 0x72, "no create");
  m.create = [](BIO*) { return 0; };
  EXPECT_EQ(BIO_new(&m), nullptr);
  EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(BioLibAlloc, FailedAllocationIsReported) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BIO_new(BIO_s_null()), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), ERR_PACK(ERR_LIB_BIO, BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE));
}

// Every allocation of a filter's creation that fails makes BIO_new say so.
TEST(BioLibAlloc, FiltersSayWhenTheirStateCannotBeMade) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  for (BIO_METHOD* m : {BIO_f_base64(), BIO_f_cipher(), BIO_f_buffer(), BIO_f_linebuffer(),
                        BIO_f_md(), BIO_f_reliable(), BIO_f_nbio_test()}) {
    SCOPED_TRACE(m->name);
    BIO_free(BIO_new(m));  // what the first stream sets up once
    int failures = 0;
    for (long n = 1; n <= 4; n++) {
      ERR_clear_error();
      morvane_test::FailAllocationAfter(n);
      BIO* b = BIO_new(m);
      morvane_test::FailAllocationAfter(0);
      if (b != nullptr) {
        BIO_free(b);
        continue;
      }
      failures++;
      EXPECT_EQ(ERR_peek_last_error(), ERR_PACK(ERR_LIB_BIO, BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE))
          << n;
    }
    EXPECT_GE(failures, 2);  // the stream itself and the filter's state
  }
  ERR_clear_error();
}

TEST_F(BioLib, SetInitialisesCallerMemory) {
  BIO b;
  memset(&b, 0x5a, sizeof(b));
  ASSERT_EQ(BIO_set(&b, BIO_s_null()), 1);
  EXPECT_EQ(b.references, 1);
  EXPECT_EQ(b.shutdown, BIO_CLOSE);
  EXPECT_EQ(b.next_bio, nullptr);
  EXPECT_EQ(b.callback, nullptr);
  EXPECT_EQ(BIO_write(&b, "abc", 3), 3);  // the null stream's create made it ready
  EXPECT_EQ(b.num_write, 3u);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_BIO, &b, &b.ex_data);
}

TEST_F(BioLib, PushAndPop) {
  BIO* a = NewScriptedStream();
  BIO* b = NewScriptedStream();
  BIO* c = NewScriptedStream();
  EXPECT_EQ(BIO_push(nullptr, c), c);
  EXPECT_TRUE(Script(c).ctrl_log.empty());
  EXPECT_EQ(BIO_push(b, c), b);  // b -> c
  EXPECT_EQ(BIO_push(a, b), a);  // a -> b -> c; the notice goes to the head
  EXPECT_EQ(Script(a).ctrl_log, std::vector<int>{BIO_CTRL_PUSH});
  EXPECT_EQ(Script(b).ctrl_log, std::vector<int>{BIO_CTRL_PUSH});
  EXPECT_TRUE(Script(c).ctrl_log.empty());
  EXPECT_EQ(a->next_bio, b);
  EXPECT_EQ(b->prev_bio, a);
  EXPECT_EQ(c->prev_bio, b);
  EXPECT_EQ(BIO_next(a), b);

  EXPECT_EQ(BIO_pop(b), c);  // a -> c
  EXPECT_EQ(Script(b).ctrl_log.back(), BIO_CTRL_POP);
  EXPECT_EQ(a->next_bio, c);
  EXPECT_EQ(c->prev_bio, a);
  EXPECT_EQ(b->next_bio, nullptr);
  EXPECT_EQ(b->prev_bio, nullptr);
  EXPECT_EQ(BIO_push(b, nullptr), b);
  EXPECT_EQ(Script(b).ctrl_log.back(), BIO_CTRL_PUSH);
  EXPECT_EQ(BIO_pop(c), nullptr);
  EXPECT_EQ(a->next_bio, nullptr);
  BIO_free(a);
  BIO_free(b);
  BIO_free(c);
}

TEST_F(BioLib, FindType) {
  BIO_METHOD filter = WithType(BIO_TYPE_BUFFER, "buffer-like");
  BIO_METHOD fd = WithType(BIO_TYPE_FD, "fd-like");
  BIO_METHOD mem = WithType(BIO_TYPE_MEM, "mem-like");
  BIO* f = BIO_new(&filter);
  BIO* d = BIO_new(&fd);
  BIO* m = BIO_new(&mem);
  BIO_push(BIO_push(f, d), m);
  EXPECT_EQ(BIO_find_type(f, BIO_TYPE_FILTER), f);
  EXPECT_EQ(BIO_find_type(f, BIO_TYPE_MEM), m);
  EXPECT_EQ(BIO_find_type(f, BIO_TYPE_DESCRIPTOR), d);
  EXPECT_EQ(BIO_find_type(f, BIO_TYPE_SOURCE_SINK), d);
  EXPECT_EQ(BIO_find_type(f, BIO_TYPE_SOCKET), nullptr);
  EXPECT_EQ(BIO_find_type(d, BIO_TYPE_FILTER), nullptr);
  // A stream without a method is skipped.
  d->method = nullptr;
  EXPECT_EQ(BIO_find_type(f, BIO_TYPE_SOURCE_SINK), m);
  d->method = &fd;
  BIO_free_all(f);
}

TEST_F(BioLib, RetryStreamOfAChain) {
  BIO* a = NewScriptedStream();
  BIO* b = NewScriptedStream();
  BIO* c = NewScriptedStream();
  BIO_push(BIO_push(a, b), c);
  int reason = -1;
  a->retry_reason = 9;
  EXPECT_EQ(BIO_get_retry_BIO(a, &reason), a);  // the head does not retry
  EXPECT_EQ(reason, 9);
  BIO_set_retry_read(a);
  BIO_set_retry_special(b);
  b->retry_reason = BIO_RR_CONNECT;
  EXPECT_EQ(BIO_get_retry_BIO(a, &reason), b);
  EXPECT_EQ(reason, BIO_RR_CONNECT);
  BIO_set_retry_write(c);
  EXPECT_EQ(BIO_get_retry_BIO(a, nullptr), c);
  EXPECT_EQ(BIO_get_retry_reason(b), BIO_RR_CONNECT);

  // Copying adds the bits and takes the reason.
  BIO_clear_retry_flags(a);
  BIO_set_flags(a, 0x100);
  BIO_copy_next_retry(a);
  EXPECT_EQ(BIO_get_flags(a), 0x100 | BIO_FLAGS_IO_SPECIAL | BIO_FLAGS_SHOULD_RETRY);
  EXPECT_EQ(a->retry_reason, BIO_RR_CONNECT);
  EXPECT_TRUE(BIO_should_retry(a));
  EXPECT_TRUE(BIO_should_io_special(a));
  EXPECT_FALSE(BIO_should_read(a));
  EXPECT_EQ(BIO_retry_type(a), BIO_FLAGS_IO_SPECIAL);
  BIO_free_all(a);
}

TEST_F(BioLib, Indent) {
  BIO* b = NewScriptedStream();
  EXPECT_EQ(BIO_indent(b, -3, 10), 1);
  EXPECT_EQ(Script(b).output, "");
  EXPECT_EQ(BIO_indent(b, 50, 8), 1);
  EXPECT_EQ(Script(b).output, "        ");
  EXPECT_EQ(Script(b).writes, 8);  // one space at a time
  Script(b).write_script = {ScriptStep::Move(0), ScriptStep::Retry()};
  EXPECT_EQ(BIO_indent(b, 3, 3), 0);
  BIO_free(b);
}

int g_dups = 0;
int CountDup(CRYPTO_EX_DATA*, CRYPTO_EX_DATA*, void*, int, long, void*) {
  g_dups++;
  return 1;
}

TEST_F(BioLib, DupChainCopiesSettingsAndState) {
  int idx = BIO_get_ex_new_index(0, nullptr, nullptr, CountDup, nullptr);
  ASSERT_GE(idx, 0);
  BIO* a = NewScriptedStream();
  BIO* mem = BIO_new(BIO_s_mem());
  BIO_push(a, mem);
  BIO_write(mem, "data", 4);
  BIO_set_callback(a, Recorder);
  BIO_set_callback_arg(a, reinterpret_cast<char*>(mem));
  a->shutdown = 0;
  a->num = 77;
  a->retry_reason = 3;
  BIO_set_flags(a, BIO_FLAGS_SHOULD_RETRY | 0x40);
  static int value = 5;
  ASSERT_EQ(BIO_set_ex_data(a, idx, &value), 1);
  EXPECT_EQ(BIO_get_ex_data(a, idx), &value);
  a->num_read = 9;
  a->num_write = 10;

  g_calls.clear();
  BIO* copy = BIO_dup_chain(a);
  ASSERT_NE(copy, nullptr);
  BIO* copy2 = copy->next_bio;
  ASSERT_NE(copy2, nullptr);
  EXPECT_EQ(copy2->prev_bio, copy);
  EXPECT_EQ(copy2->next_bio, nullptr);
  EXPECT_EQ(copy->method, a->method);
  EXPECT_EQ(copy->callback, Recorder);
  EXPECT_EQ(copy->cb_arg, reinterpret_cast<char*>(mem));
  EXPECT_EQ(copy->init, 1);
  EXPECT_EQ(copy->shutdown, 0);
  EXPECT_EQ(copy->num, 77);
  EXPECT_EQ(copy->flags, BIO_FLAGS_SHOULD_RETRY | 0x40);
  EXPECT_EQ(copy->retry_reason, 0);
  EXPECT_EQ(copy->references, 1);
  EXPECT_EQ(copy->num_read, 0u);
  EXPECT_EQ(copy->num_write, 0u);
  EXPECT_EQ(BIO_get_ex_data(copy, idx), &value);
  EXPECT_EQ(g_dups, 1);
  // The type copied its state: the source got BIO_CTRL_DUP, the copy the push.
  EXPECT_EQ(Script(a).ctrl_log.back(), BIO_CTRL_DUP);
  EXPECT_EQ(Script(copy).ctrl_log, std::vector<int>{BIO_CTRL_PUSH});
  EXPECT_EQ(BIO_ctrl_pending(copy2), 0u);  // a copied memory stream starts empty
  BIO_set_callback(a, nullptr);
  BIO_set_callback(copy, nullptr);
  BIO_free_all(copy);
  BIO_free_all(a);
}

TEST_F(BioLib, DupChainFailureFreesThePartialCopy) {
  BIO_METHOD m = WithType(BIO_TYPE_FILTER | 0x74, "no dup");
  m.ctrl = [](BIO*, int cmd, long, void*) -> long { return cmd == BIO_CTRL_DUP ? 0 : 1; };
  BIO* head = NewScriptedStream();
  BIO* tail = BIO_new(&m);
  BIO_push(head, tail);
  EXPECT_EQ(BIO_dup_chain(head), nullptr);  // leak-checked under AddressSanitizer
  BIO_free_all(head);
}

TEST_F(BioLib, DebugCallbackWritesOneLinePerCall) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "12345", 5), 5);
  BIO* fd = BIO_new_fd(fds[0], BIO_CLOSE);
  BIO* log = BIO_new(BIO_s_mem());
  BIO_set_callback(fd, BIO_debug_callback);
  BIO_set_callback_arg(fd, reinterpret_cast<char*>(log));
  char buf[8];
  ASSERT_EQ(BIO_read(fd, buf, 5), 5);
  char prefix[64];
  snprintf(prefix, sizeof(prefix), "BIO[%08lX]:", reinterpret_cast<unsigned long>(fd));
  std::string want = std::string(prefix) + "read(" + std::to_string(fds[0]) +
                     ",5) - file descriptor fd=" + std::to_string(fds[0]) + "\n" + prefix +
                     "read return 5\n";
  char* data = nullptr;
  long n = BIO_get_mem_data(log, &data);
  EXPECT_EQ(std::string(data, static_cast<size_t>(n)), want);

  // Without an argument the lines go to standard error.
  BIO_reset(log);
  BIO_set_callback_arg(fd, nullptr);
  testing::internal::CaptureStderr();
  BIO_ctrl(fd, BIO_CTRL_FLUSH, 0, nullptr);
  BIO_free(fd);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, std::string(prefix) + "ctrl(11) - file descriptor\n" + prefix + "ctrl return 1\n" +
                     prefix + "Free - file descriptor\n");
  close(fds[1]);
  BIO_free(log);
}

}  // namespace
