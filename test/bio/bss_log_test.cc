// The system-log stream.  This suite is built with its own copy of
// crypto/bio/bss_log.cc, whose system-log calls it captures through the
// seam of bss_log_seam.h: nothing reaches the real system log.

#include <syslog.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "bio/bss_log_seam.h"
#include "test_support.h"

namespace {

struct Event {
  std::string what;  // "open", "log" or "close"
  std::string text;  // ident or message
  int value;         // facility or priority
  int option;
  bool operator==(const Event&) const = default;
};
std::vector<Event> g_events;

void Open(const char* ident, int option, int facility) {
  g_events.push_back({"open", ident ? ident : "(null)", facility, option});
}
void Log(int priority, const char* text) {
  g_events.push_back({"log", text, priority, 0});
}
void Close() {
  g_events.push_back({"close", "", 0, 0});
}

class SyslogStream : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = morvane::bio::ExchangeSyslogCalls({Open, Log, Close});
    g_events.clear();
    b = BIO_new(BIO_s_log());
    ASSERT_NE(b, nullptr);
  }
  void TearDown() override {
    BIO_free(b);
    morvane::bio::ExchangeSyslogCalls(saved_);
  }
  // Writes `text` and returns what was logged.
  Event Write(const std::string& text) {
    g_events.clear();
    EXPECT_EQ(BIO_write(b, text.data(), static_cast<int>(text.size())),
              static_cast<int>(text.size()));
    EXPECT_EQ(g_events.size(), 1u);
    return g_events.empty() ? Event{} : g_events[0];
  }
  BIO* b = nullptr;

 private:
  morvane::bio::SyslogCalls saved_{};
};

TEST_F(SyslogStream, OpensAndClosesTheLog) {
  g_events.clear();
  BIO* other = BIO_new(BIO_s_log());
  EXPECT_EQ(g_events,
            (std::vector<Event>{{"open", "application", LOG_DAEMON, LOG_PID | LOG_CONS}}));
  EXPECT_EQ(BIO_method_type(other), BIO_TYPE_MEM);
  EXPECT_STREQ(BIO_method_name(other), "syslog");
  EXPECT_EQ(BIO_find_type(other, BIO_TYPE_MEM), other);
  g_events.clear();
  EXPECT_EQ(BIO_ctrl(other, BIO_CTRL_SET, LOG_LOCAL3, const_cast<char*>("tool")), 0);
  EXPECT_EQ(g_events, (std::vector<Event>{{"close", "", 0, 0},
                                          {"open", "tool", LOG_LOCAL3, LOG_PID | LOG_CONS}}));
  g_events.clear();
  EXPECT_EQ(BIO_ctrl(other, BIO_CTRL_FLUSH, 0, nullptr), 0);
  EXPECT_TRUE(g_events.empty());
  BIO_free(other);
  EXPECT_EQ(g_events, (std::vector<Event>{{"close", "", 0, 0}}));
}

TEST_F(SyslogStream, PrefixesChooseThePriority) {
  struct {
    const char* prefix;
    int priority;
  } rows[] = {
      {"PANIC ", LOG_EMERG},     {"EMERG ", LOG_EMERG},  {"EMR ", LOG_EMERG},
      {"ALERT ", LOG_ALERT},     {"ALR ", LOG_ALERT},    {"CRIT ", LOG_CRIT},
      {"CRI ", LOG_CRIT},        {"ERROR ", LOG_ERR},    {"ERR ", LOG_ERR},
      {"WARNING ", LOG_WARNING}, {"WARN ", LOG_WARNING}, {"WAR ", LOG_WARNING},
      {"NOTICE ", LOG_NOTICE},   {"NOTE ", LOG_NOTICE},  {"NOT ", LOG_NOTICE},
      {"INFO ", LOG_INFO},       {"INF ", LOG_INFO},     {"DEBUG ", LOG_DEBUG},
      {"DBG ", LOG_DEBUG},
  };
  for (const auto& r : rows) {
    Event e = Write(std::string(r.prefix) + "message");
    EXPECT_EQ(e, (Event{"log", "message", r.priority, 0})) << r.prefix;
  }
}

TEST_F(SyslogStream, TextsWithoutAKnownPrefixGoWholeAtErr) {
  EXPECT_EQ(Write("WARNING disk low"), (Event{"log", "disk low", LOG_WARNING, 0}));
  EXPECT_EQ(Write("NOTICE x"), (Event{"log", "x", LOG_NOTICE, 0}));
  EXPECT_EQ(Write("warning disk low"), (Event{"log", "warning disk low", LOG_ERR, 0}));
  EXPECT_EQ(Write("ERROR: bad"), (Event{"log", "ERROR: bad", LOG_ERR, 0}));
  EXPECT_EQ(Write("WARNING"), (Event{"log", "WARNING", LOG_ERR, 0}));
  EXPECT_EQ(Write(""), (Event{"log", "", LOG_ERR, 0}));
  // The copy stops at a NUL in the data; the whole length is reported.
  EXPECT_EQ(Write(std::string("INFO a\0b", 8)), (Event{"log", "a", LOG_INFO, 0}));
  g_events.clear();
  EXPECT_EQ(BIO_puts(b, "DBG puts"), 8);
  EXPECT_EQ(g_events, (std::vector<Event>{{"log", "puts", LOG_DEBUG, 0}}));
  // Only the given length is read.
  g_events.clear();
  EXPECT_EQ(BIO_write(b, "CRIT abcdef", 7), 7);
  EXPECT_EQ(g_events, (std::vector<Event>{{"log", "ab", LOG_CRIT, 0}}));
}

TEST_F(SyslogStream, WriteOnly) {
  ERR_clear_error();
  char buf[8];
  EXPECT_EQ(BIO_read(b, buf, sizeof(buf)), -2);
  EXPECT_EQ(BIO_gets(b, buf, sizeof(buf)), -2);
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_READ, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_BIO, BIO_F_BIO_GETS, BIO_R_UNSUPPORTED_METHOD}});
  g_events.clear();
  EXPECT_EQ(BIO_write(b, "x", -1), 0);  // nothing to log
  EXPECT_TRUE(g_events.empty());
}

}  // namespace
