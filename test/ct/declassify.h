// Compiled into the unsanitized twin of the library that the constant-time
// harness runs under valgrind: a value a check makes public (a verdict, a
// reported length) is marked defined, so that later branches on it are not
// reported.  Never part of an installed library.
#ifndef MORVANE_TEST_CT_DECLASSIFY_H
#define MORVANE_TEST_CT_DECLASSIFY_H

#include "vg_requests.h"

#define MORVANE_CT_DECLASSIFY(p, n) VALGRIND_MAKE_MEM_DEFINED((p), (n))

#endif
