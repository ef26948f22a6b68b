// The system-log stream: a write-only sink that sends each write as one
// message to the system log, its priority chosen by a prefix of the text
// ("WARNING disk low" is logged as "disk low" at LOG_WARNING; a text without
// a known prefix is logged whole at LOG_ERR).
//
// The three system-log calls go through the table of bss_log_seam.h.

#include <climits>
#include <cstring>
#include <syslog.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>

#include "bio/bss_log_seam.h"

namespace morvane::bio {
namespace {

void SysOpen(const char* ident, int option, int facility) {
  openlog(ident, option, facility);
}
void SysLog(int priority, const char* text) {
  syslog(priority, "%s", text);
}
void SysClose() {
  closelog();
}

constinit SyslogCalls g_calls = {SysOpen, SysLog, SysClose};

}  // namespace

SyslogCalls ExchangeSyslogCalls(const SyslogCalls& calls) {
  SyslogCalls old = g_calls;
  g_calls = calls;
  return old;
}

}  // namespace morvane::bio

namespace {

using morvane::bio::g_calls;

struct Mapping {
  int strl;       // prefix length
  char str[10];   // prefix, each ending with one space
  int log_level;  // syslog priority
};

// Searched in order: longer spellings first, the empty last row matches all.
// clang-format off
constexpr Mapping kMapping[] = {
    {6, "PANIC ", LOG_EMERG},   {6, "EMERG ", LOG_EMERG},  {4, "EMR ", LOG_EMERG},
    {6, "ALERT ", LOG_ALERT},   {4, "ALR ", LOG_ALERT},    {5, "CRIT ", LOG_CRIT},
    {4, "CRI ", LOG_CRIT},      {6, "ERROR ", LOG_ERR},    {4, "ERR ", LOG_ERR},
    {8, "WARNING ", LOG_WARNING}, {5, "WARN ", LOG_WARNING}, {4, "WAR ", LOG_WARNING},
    {7, "NOTICE ", LOG_NOTICE}, {5, "NOTE ", LOG_NOTICE},  {4, "NOT ", LOG_NOTICE},
    {5, "INFO ", LOG_INFO},     {4, "INF ", LOG_INFO},     {6, "DEBUG ", LOG_DEBUG},
    {4, "DBG ", LOG_DEBUG},     {0, "", LOG_ERR},
};
// clang-format on
static_assert(sizeof(kMapping) / sizeof(kMapping[0]) == 20);
static_assert((LOG_PID | LOG_CONS) == 3 && LOG_DAEMON == 24);

void xopenlog(BIO*, const char* name, int facility) {
  g_calls.open(name, LOG_PID | LOG_CONS, facility);
}
void xsyslog(BIO*, int priority, const char* text) {
  g_calls.log(priority, text);
}
void xcloselog(BIO*) {
  g_calls.close();
}

int slg_new(BIO* b) {
  b->init = 1;
  b->num = 0;
  b->ptr = nullptr;
  xopenlog(b, "application", LOG_DAEMON);
  return 1;
}

int slg_free(BIO* b) {
  if (b == nullptr) return 0;
  xcloselog(b);
  return 1;
}

int slg_write(BIO* b, const char* in, int inl) {
  if (inl < 0 || inl == INT_MAX) return 0;
  char* buf = static_cast<char*>(MORVANE_malloc(inl + 1));
  if (buf == nullptr) return 0;
  strncpy(buf, in, static_cast<size_t>(inl));  // stops at a NUL in the data
  buf[inl] = '\0';
  const Mapping* m = kMapping;
  while (strncmp(buf, m->str, static_cast<size_t>(m->strl)) != 0) m++;
  xsyslog(b, m->log_level, buf + m->strl);
  MORVANE_free(buf);
  return inl;
}

int slg_puts(BIO* b, const char* str) {
  return slg_write(b, str, static_cast<int>(strlen(str)));
}

long slg_ctrl(BIO* b, int cmd, long num, void* ptr) {
  if (cmd == BIO_CTRL_SET) {
    xcloselog(b);
    xopenlog(b, static_cast<const char*>(ptr), static_cast<int>(num));
  }
  return 0;
}

constinit BIO_METHOD methods_slg = {
    BIO_TYPE_MEM, "syslog", slg_write, nullptr,  slg_puts,
    nullptr,      slg_ctrl, slg_new,   slg_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_log(void) {
  return &methods_slg;
}
