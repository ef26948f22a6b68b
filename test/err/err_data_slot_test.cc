// Data attached to an entry without ERR_TXT_MALLOCED belongs to the caller,
// who may free it once the entry is gone.  However the entry went (read
// without data, read with data, the queue cleared), a later entry in the same
// slot must come without data ("" and flags 0), never with the old pointer.

#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>
#include <morvane/err.h>

namespace {

using Drop = void (*)();
void ReadPlain() { ERR_get_error(); }
void ReadWithData() {
  const char *data, *file;
  int line, flags;
  ERR_get_error_line_data(&file, &line, &data, &flags);
}
void ClearQueue() { ERR_clear_error(); }

TEST(ErrDataSlot, ReusedSlotsCarryNoStalePointer) {
  for (Drop drop : {ReadPlain, ReadWithData, ClearQueue}) {
    char* text = static_cast<char*>(malloc(8));
    strcpy(text, "caller");
    ERR_put_error(ERR_LIB_USER, 1, 1, "x.cc", 1);
    ERR_set_error_data(text, ERR_TXT_STRING);
    drop();
    free(text);
    // One push per slot: every slot, that one included, holds a fresh entry.
    for (int i = 0; i < ERR_NUM_ERRORS; i++) ERR_put_error(ERR_LIB_USER, 2, 2, "y.cc", i);
    const char *data, *file;
    int line, flags = -1, entries = 0;
    while (ERR_get_error_line_data(&file, &line, &data, &flags) != 0) {
      entries++;
      EXPECT_STREQ(data, "");
      EXPECT_EQ(flags, 0);
    }
    EXPECT_EQ(entries, ERR_NUM_ERRORS - 1);
  }
  ERR_remove_state(0);
}

}  // namespace
