// Compression contexts: the stored-block method "run length compression"
// and the zlib placeholder.

#include <string>

#include <gtest/gtest.h>
#include <morvane/comp.h>

namespace {

unsigned char* U(std::string& s) {
  return reinterpret_cast<unsigned char*>(&s[0]);
}

TEST(Comp, RunLengthStoresTheInputBehindAZeroByte) {
  COMP_CTX* ctx = COMP_CTX_new(COMP_rle());
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(ctx->meth->type, 124);
  EXPECT_STREQ(ctx->meth->name, "run length compression");
  std::string in = "hello", out(8, 'x');
  EXPECT_EQ(COMP_compress_block(ctx, U(out), 5, U(in), 5), -1);  // no room for the marker
  EXPECT_EQ(ctx->compress_in, 0u);
  EXPECT_EQ(ctx->compress_out, 0u);
  ASSERT_EQ(COMP_compress_block(ctx, U(out), 6, U(in), 5), 6);
  EXPECT_EQ(out.substr(0, 6), std::string("\0hello", 6));
  EXPECT_EQ(ctx->compress_in, 5u);
  EXPECT_EQ(ctx->compress_out, 6u);

  std::string back(5, '.');
  EXPECT_EQ(COMP_expand_block(ctx, U(back), 5, U(out), 6), 5);
  EXPECT_EQ(back, "hello");
  EXPECT_EQ(ctx->expand_in, 6u);
  EXPECT_EQ(ctx->expand_out, 5u);
  EXPECT_EQ(COMP_expand_block(ctx, U(back), 5, U(out), 0), -1);
  EXPECT_EQ(COMP_expand_block(ctx, U(back), 4, U(out), 6), -1);
  out[0] = 1;  // not a block of this method: refused, nothing counted
  EXPECT_EQ(COMP_expand_block(ctx, U(back), 5, U(out), 6), -1);
  EXPECT_EQ(ctx->expand_out, 5u);
  EXPECT_EQ(COMP_compress_block(ctx, U(out), 6, U(in), -1), -1);
  COMP_CTX_free(ctx);
  COMP_CTX_free(nullptr);
}

TEST(Comp, TheZlibPlaceholderFailsEveryCall) {
  COMP_CTX* ctx = COMP_CTX_new(COMP_zlib());
  ASSERT_NE(ctx, nullptr);
  EXPECT_STREQ(ctx->meth->name, "(undef)");
  std::string in = "abc", out(16, '\0');
  EXPECT_EQ(COMP_compress_block(ctx, U(out), 16, U(in), 3), -1);
  EXPECT_EQ(COMP_expand_block(ctx, U(out), 16, U(in), 3), -1);
  COMP_CTX_free(ctx);
  COMP_zlib_cleanup();
  EXPECT_EQ(COMP_CTX_new(nullptr), nullptr);
}

}  // namespace
