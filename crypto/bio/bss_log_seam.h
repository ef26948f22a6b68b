// The system-log stream's calls into the system log, behind one table of
// function pointers so that a test built from bss_log.cc can capture what
// would be logged instead of writing to the real log.  Not part of the
// library's interface: nothing outside bss_log.cc reaches it in the library.
#ifndef MORVANE_CRYPTO_BIO_BSS_LOG_SEAM_H
#define MORVANE_CRYPTO_BIO_BSS_LOG_SEAM_H

namespace morvane::bio {

struct SyslogCalls {
  void (*open)(const char* ident, int option, int facility);
  void (*log)(int priority, const char* text);  // logs `text` through "%s"
  void (*close)();
};

// Installs `calls` and returns the ones in force before.
SyslogCalls ExchangeSyslogCalls(const SyslogCalls& calls);

}  // namespace morvane::bio

#endif  // MORVANE_CRYPTO_BIO_BSS_LOG_SEAM_H
