// The newest entry of the error queue, for tests that check only the
// reason a failure ends with (the entries before it come from lower layers).
#ifndef MORVANE_TEST_ASN1_LAST_ERROR_H
#define MORVANE_TEST_ASN1_LAST_ERROR_H

#include <string>
#include <utility>

#include <morvane/err.h>

// The reason of the newest error (-1 when it is not an ASN1 error) and its
// text; the queue is emptied.
inline std::pair<int, std::string> LastAsn1Error() {
  const char* data = nullptr;
  int flags = 0;
  const unsigned long e = ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags);
  std::pair<int, std::string> r{ERR_GET_REASON(e), (flags & ERR_TXT_STRING) ? data : ""};
  if (e != 0 && ERR_GET_LIB(e) != ERR_LIB_ASN1) r.first = -1;
  ERR_clear_error();
  return r;
}

#endif  // MORVANE_TEST_ASN1_LAST_ERROR_H
