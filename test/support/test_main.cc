// The entry point of every test program.  It is compiled into each program as
// an object (not taken from an archive), so it always wins over the `main`
// that the library exports for its file-digest tool.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
