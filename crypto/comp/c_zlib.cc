// The zlib placeholder: this library carries no zlib, so the method has no
// calls and every block call through it fails with -1.

#include <morvane/comp.h>

namespace {

constinit COMP_METHOD zlib_method_nozlib = {
    0, "(undef)", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

/* see morvane/comp.h */
COMP_METHOD* COMP_zlib(void) {
  return &zlib_method_nozlib;
}

/* see morvane/comp.h */
void COMP_zlib_cleanup(void) {}
