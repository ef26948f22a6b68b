// Caller-owned data (no ERR_TXT_MALLOCED) may be freed once its entry is
// gone.  However the entry went, a later entry in that slot must read "" and
// flags 0, never the old pointer.

#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>
#include <morvane/err.h>

namespace {

void ReadWithData() {
  const char *data, *file;
  int line, flags;
  ERR_get_error_line_data(&file, &line, &data, &flags);
}

TEST(ErrDataSlot, ReusedSlotsCarryNoStalePointer) {
  for (void (*drop)() : {+[] { ERR_get_error(); }, ReadWithData, ERR_clear_error}) {
    char* text = strdup("caller");
    ERR_put_error(ERR_LIB_USER, 1, 1, "x.cc", 1);
    ERR_set_error_data(text, ERR_TXT_STRING);
    drop();
    free(text);
    for (int i = 0; i < ERR_NUM_ERRORS; i++) ERR_put_error(ERR_LIB_USER, 2, 2, "y.cc", i);
    const char *data, *file;
    int line, flags = -1, entries = 0;
    for (; ERR_get_error_line_data(&file, &line, &data, &flags) != 0; entries++)
      EXPECT_TRUE(strcmp(data, "") == 0 && flags == 0);
    EXPECT_EQ(entries, ERR_NUM_ERRORS - 1);  // every slot, that one included
  }
}

}  // namespace
