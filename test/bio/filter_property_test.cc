// Random data through the buffer, line-buffer, NULL and non-blocking test
// filters, alone and chained, over a scripted stream that takes short writes,
// gives short reads and asks for retries at random: a caller that retries
// whenever asked gets every byte through unchanged and in order.  Also what
// the buffering filters hold and pass on, and every filter without a next
// stream.

#include <algorithm>
#include <deque>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>

#include "scripted_stream.h"

namespace {

using morvane_test::Script;
using morvane_test::ScriptStep;

struct Chain {
  const char* name;
  std::vector<BIO_METHOD* (*)()> filters;  // outermost first
};

const Chain kChains[] = {
    {"buffer", {BIO_f_buffer}},
    {"linebuffer", {BIO_f_linebuffer}},
    {"null", {BIO_f_null}},
    {"nbio", {BIO_f_nbio_test}},
    {"all", {BIO_f_buffer, BIO_f_linebuffer, BIO_f_nbio_test, BIO_f_null}},
};

std::string RandomData(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = rng() % 16 == 0 ? '\n' : static_cast<char>(rng());
  return s;
}

// Mostly short moves, some retries.
std::deque<ScriptStep> RandomScript(std::mt19937& rng, int steps) {
  std::deque<ScriptStep> script;
  for (int i = 0; i < steps; i++) {
    switch (rng() % 4) {
      case 0:
        script.push_back(ScriptStep::Retry());
        break;
      case 1:
        script.push_back(ScriptStep::Move(1 + static_cast<int>(rng() % 9)));
        break;
      default:
        script.push_back(ScriptStep::Move(1 + static_cast<int>(rng() % 12000)));
        break;
    }
  }
  return script;
}

class FilterProperty : public ::testing::TestWithParam<std::tuple<int, unsigned>> {
 protected:
  void SetUp() override {
    const Chain& c = kChains[std::get<0>(GetParam())];
    rng.seed(std::get<1>(GetParam()));
    for (auto method : c.filters) {
      BIO* f = BIO_new(method());
      ASSERT_NE(f, nullptr);
      head = BIO_push(head, f);
    }
    end = morvane_test::NewScriptedStream();
    BIO_push(head, end);
  }
  void TearDown() override { BIO_free_all(head); }

  // A failed call must be a retry somewhere along the chain.
  bool SomeoneAsksForRetry() {
    for (BIO* b = head; b != nullptr; b = BIO_next(b)) {
      if (BIO_should_retry(b)) return true;
    }
    return false;
  }

  std::mt19937 rng;
  BIO* head = nullptr;
  BIO* end = nullptr;
};

TEST_P(FilterProperty, WrittenDataArrivesUnchanged) {
  const std::string data = RandomData(rng, 30000);
  Script(end).write_script = RandomScript(rng, 400);
  size_t pos = 0;
  int calls = 0;
  while (pos < data.size()) {
    ASSERT_LT(++calls, 200000);
    int chunk = static_cast<int>(std::min<size_t>(1 + rng() % 15000, data.size() - pos));
    int r = rng() % 8 == 0 && chunk > 1
                ? BIO_puts(head, std::string(data, pos, chunk).c_str())  // up to a NUL
                : BIO_write(head, data.data() + pos, chunk);
    if (r > 0) {
      pos += static_cast<size_t>(r);
    } else {
      ASSERT_NE(r, -2);
      if (r == 0) continue;  // puts of an empty string
      ASSERT_TRUE(SomeoneAsksForRetry()) << "result " << r << " at " << pos;
    }
    // The line buffer never holds more than its capacity.
    for (BIO* b = head; b != nullptr; b = BIO_next(b)) {
      if (BIO_method_type(b) == BIO_TYPE_LINEBUFFER) {
        ASSERT_LE(BIO_ctrl(b, BIO_CTRL_INFO, 0, nullptr), 10240);
      }
    }
  }
  // Flush until every filter has passed everything on.
  for (;;) {
    ASSERT_LT(++calls, 200000);
    long r = BIO_flush(head);
    if (r > 0 && Script(end).output.size() == data.size()) break;
    if (r <= 0) {
      ASSERT_TRUE(SomeoneAsksForRetry());
    }
  }
  EXPECT_EQ(Script(end).output, data);
}

TEST_P(FilterProperty, ReadDataArrivesUnchanged) {
  const std::string data = RandomData(rng, 30000);
  Script(end).input = data;
  Script(end).read_script = RandomScript(rng, 400);
  std::string back;
  int calls = 0;
  for (;;) {
    ASSERT_LT(++calls, 200000);
    char buf[16000];
    int want = 2 + static_cast<int>(rng() % (sizeof(buf) - 2));
    int r = rng() % 3 == 0 ? BIO_gets(head, buf, want) : BIO_read(head, buf, want);
    if (r == 0) break;  // end of data
    if (r < 0) {
      ASSERT_NE(r, -2);
      ASSERT_TRUE(SomeoneAsksForRetry()) << "result " << r << " at " << back.size();
      continue;
    }
    back.append(buf, static_cast<size_t>(r));
  }
  EXPECT_EQ(back, data);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, FilterProperty,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kChains))),
                       ::testing::Values(1u, 2u, 3u)),
    [](const ::testing::TestParamInfo<FilterProperty::ParamType>& info) {
      return std::string(kChains[std::get<0>(info.param)].name) + "_seed" +
             std::to_string(std::get<1>(info.param));
    });

// Where the buffering filters hold written bytes and when they pass them on:
// the buffer filter holds what fits in its 4096 bytes, fills it up and sends
// it in one write when a write overfills it, and sends writes of more than a
// buffer's size straight on; the line buffer passes each complete line at
// once, joined to the held text in one write, holds a tail, fills its 10240
// bytes and sends them when a tail does not fit, and passes a tail longer
// than the whole buffer straight on.  A flush sends the rest.
TEST(FilterWrites, HeldAndPassedOn) {
  const std::string k4000(4000, 'a'), k200(200, 'b'), k10000(10000, 'c'), k1000(1000, 'd');
  const struct {
    BIO_METHOD* (*filter)();
    std::vector<std::string> writes;
    int passed;  // writes reaching the next stream before the flush
    int held;
  } cases[] = {
      {BIO_f_buffer, {"abc", "de"}, 0, 5},
      {BIO_f_buffer, {std::string(4096, 'a')}, 0, 4096},
      {BIO_f_buffer, {k4000, k200}, 1, 104},
      {BIO_f_buffer, {std::string(4097, 'a')}, 1, 0},
      {BIO_f_linebuffer, {"abc"}, 0, 3},
      {BIO_f_linebuffer, {"abc", "def\ngh"}, 1, 2},
      {BIO_f_linebuffer, {"l1\nl2\nl3"}, 2, 2},
      {BIO_f_linebuffer, {std::string(10240, 'a')}, 0, 10240},
      {BIO_f_linebuffer, {k10000, k1000}, 1, 760},
      {BIO_f_linebuffer, {std::string(20000, 'x')}, 1, 0},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    const auto& c = cases[i];
    BIO* f = BIO_push(BIO_new(c.filter()), morvane_test::NewScriptedStream());
    BIO* next = BIO_next(f);
    std::string all;
    for (const std::string& w : c.writes) {
      EXPECT_EQ(BIO_write(f, w.data(), static_cast<int>(w.size())), static_cast<int>(w.size()));
      all += w;
    }
    EXPECT_EQ(Script(next).writes, c.passed) << i;
    EXPECT_TRUE(Script(next).output == all.substr(0, all.size() - c.held)) << i;
    EXPECT_EQ(BIO_wpending(f), c.held) << i;
    EXPECT_EQ(BIO_ctrl(f, BIO_CTRL_INFO, 0, nullptr), c.held) << i;
    Script(next).flush_result = 7;
    EXPECT_EQ(BIO_flush(f), 7) << i;  // the next stream's flush result
    EXPECT_TRUE(Script(next).output == all) << i;
    BIO_free_all(f);
  }
}

// Without a next stream every filter moves nothing and asks for nothing.
class FilterAlone : public ::testing::TestWithParam<BIO_METHOD* (*)()> {};

TEST_P(FilterAlone, MovesNothing) {
  BIO* f = BIO_new(GetParam()());
  ASSERT_NE(f, nullptr);
  char buf[8] = "";
  EXPECT_EQ(BIO_read(f, buf, 8), 0);
  EXPECT_EQ(BIO_write(f, "a\n", 2), 0);
  EXPECT_EQ(BIO_gets(f, buf, 8), 0);
  EXPECT_EQ(BIO_puts(f, "a\n"), 0);
  EXPECT_EQ(BIO_pending(f), 0);
  EXPECT_EQ(BIO_wpending(f), 0);
  EXPECT_EQ(BIO_flush(f), 0);
  EXPECT_EQ(BIO_eof(f), 0);
  EXPECT_EQ(BIO_callback_ctrl(f, BIO_CTRL_SET_CALLBACK, nullptr), 0);
  EXPECT_FALSE(BIO_should_retry(f));
  BIO_free(f);
}

INSTANTIATE_TEST_SUITE_P(Filters, FilterAlone,
                         ::testing::Values(BIO_f_buffer, BIO_f_linebuffer, BIO_f_null,
                                           BIO_f_nbio_test),
                         [](const ::testing::TestParamInfo<BIO_METHOD* (*)()>& info) {
                           return std::string(kChains[info.index].name);
                         });

}  // namespace
