// The dynamic engine's commands, the "engines" configuration module and the
// software engine "morvane".

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "test_engine.h"
#include "test_support.h"

namespace {

using morvane_test::ErrEntry;

class Dynamic : public ::testing::Test {
 protected:
  void SetUp() override { ENGINE_load_dynamic(); }
  void TearDown() override { ENGINE_cleanup(); }
};

int CountListed(const char* id) {
  int n = 0;
  for (ENGINE* e = ENGINE_get_first(); e != nullptr; e = ENGINE_get_next(e))
    n += std::string(ENGINE_get_id(e)) == id;
  return n;
}

TEST_F(Dynamic, CommandTable) {
  const struct {
    unsigned int num;
    const char* name;
    unsigned int flags;
    const char* desc;
  } kCommands[] = {
      {200, "SO_PATH", 2, "Specifies the path to the new ENGINE shared library"},
      {201, "NO_VCHECK", 1, "Specifies to continue even if version checking fails (boolean)"},
      {202, "ID", 2, "Specifies an ENGINE id name for loading"},
      {203, "LIST_ADD", 1,
       "Whether to add a loaded ENGINE to the internal list (0=no,1=yes,2=mandatory)"},
      {204, "DIR_LOAD", 1,
       "Specifies whether to load from 'DIR_ADD' directories (0=no,1=yes,2=mandatory)"},
      {205, "DIR_ADD", 2, "Adds a directory from which ENGINEs can be loaded"},
      {206, "LOAD", 4, "Load up the ENGINE specified by other settings"},
  };
  ENGINE* e = ENGINE_by_id("dynamic");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(ENGINE_get_name(e), "Dynamic engine loading support");
  EXPECT_EQ(ENGINE_get_flags(e), ENGINE_FLAGS_BY_ID_COPY);
  const ENGINE_CMD_DEFN* d = ENGINE_get_cmd_defns(e);
  for (const auto& c : kCommands) {
    EXPECT_EQ(d->cmd_num, c.num);
    EXPECT_STREQ(d->cmd_name, c.name);
    EXPECT_STREQ(d->cmd_desc, c.desc);
    EXPECT_EQ(d->cmd_flags, c.flags);
    d++;
  }
  EXPECT_EQ(d->cmd_num, 0u);
  EXPECT_EQ(ENGINE_init(e), 0);  // the loader itself is never initialised
  ENGINE_free(e);
}

TEST_F(Dynamic, LoadingTwiceListsOneAndKeepsTheCallersErrors) {
  ERR_put_error(ERR_LIB_USER, 1, 2, "t.cc", 1);
  ENGINE_load_dynamic();
  ENGINE_load_builtin_engines();
  EXPECT_EQ(CountListed("dynamic"), 1);
  EXPECT_ERRORS({{ERR_LIB_USER, 1, 2}});
}

TEST_F(Dynamic, SettingsAndTheirRefusals) {
  ENGINE* e = ENGINE_by_id("dynamic");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "SO_PATH", "", 0), 0);  // clears the path
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "ID", "", 0), 0);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "LIST_ADD", "2", 0), 1);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "LIST_ADD", "3", 0), 0);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "DIR_LOAD", "-1", 0), 0);
  EXPECT_EQ(ENGINE_ctrl(e, 205, 0, const_cast<char*>(""), nullptr), 0);
  EXPECT_EQ(ENGINE_ctrl(e, 207, 0, nullptr, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_DYNAMIC_CTRL, ENGINE_R_INVALID_ARGUMENT},
                 {ERR_LIB_ENGINE, ENGINE_F_DYNAMIC_CTRL, ENGINE_R_INVALID_ARGUMENT},
                 {ERR_LIB_ENGINE, ENGINE_F_DYNAMIC_CTRL, ENGINE_R_INVALID_ARGUMENT},
                 {ERR_LIB_ENGINE, ENGINE_F_DYNAMIC_CTRL, ENGINE_R_CTRL_COMMAND_NOT_IMPLEMENTED}});
  // Nothing to load: 0, nothing queued, and the copy still takes commands.
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0), 0);
  EXPECT_ERRORS({});
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "DIR_ADD", "/nowhere", 0), 1);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "SO_PATH", "/nowhere/x.so", 0), 1);
  EXPECT_EQ(ENGINE_ctrl_cmd_string(e, "LOAD", nullptr, 0), 0);
  EXPECT_EQ(ERR_peek_last_error(), 0x260B6084u);  // DYNAMIC_LOAD: "dso not found"
  ERR_clear_error();
  ENGINE_free(e);
}

TEST_F(Dynamic, UnknownIdsFallBackOnTheLoader) {
  EXPECT_EQ(ENGINE_by_id("nosuch"), nullptr);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_DYNAMIC_LOAD, ENGINE_R_DSO_NOT_FOUND},
                 {ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE, "id=nosuch"}});
}

// ---- the "engines" module ----------------------------------------------------

class EnginesModule : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ENGINE_add_conf_module(), 1);
    ENGINE_load_morvane();
  }
  void TearDown() override {
    CONF_modules_free();
    ENGINE_cleanup();
  }
  static int Run(const std::string& engine_section) {
    const std::string text =
        "morvane_conf = m\n[m]\nengines = eng\n[eng]\nx.morvane = e_s\n[e_s]\n" + engine_section;
    CONF* conf = NCONF_new(nullptr);
    BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
    long eline = 0;
    EXPECT_EQ(NCONF_load_bio(conf, in, &eline), 1);
    BIO_free(in);
    const int r = CONF_modules_load(conf, nullptr, CONF_MFLAGS_NO_DSO);
    NCONF_free(conf);
    return r;
  }
  static bool Initialised() {
    ENGINE* e = ENGINE_by_id("morvane");
    // An initialised engine gives a functional reference without running
    // anything; ENGINE_get_cipher_engine would do, this is plainer.
    const bool ok = ENGINE_load_private_key(e, "/nonexistent", nullptr, nullptr) == nullptr &&
                    ERR_GET_REASON(ERR_peek_last_error()) != ENGINE_R_NOT_INITIALISED;
    ERR_clear_error();
    ENGINE_free(e);
    return ok;
  }
};

constexpr ErrEntry kModuleRunError = {ERR_LIB_CONF, CONF_F_MODULE_RUN,
                                      CONF_R_MODULE_INITIALIZATION_ERROR};

TEST_F(EnginesModule, SoftLoadPassesOverAMissingEngineQuietly) {
  ERR_put_error(ERR_LIB_USER, 1, 2, "t.cc", 1);
  EXPECT_EQ(Run("engine_id = nosuch\nsoft_load = 1\ndefault_algorithms = ALL\n"), 1);
  EXPECT_ERRORS({{ERR_LIB_USER, 1, 2}});
}

TEST_F(EnginesModule, InitValues) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run("init = 2\n"), -1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_INVALID_INIT_VALUE},
                 {ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE,
                  ENGINE_R_ENGINE_CONFIGURATION_ERROR, "section=e_s, name=init, value=2"},
                 kModuleRunError});
  EXPECT_EQ(ERR_PACK(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_INVALID_INIT_VALUE),
            0x260BC097u);
  EXPECT_EQ(
      ERR_PACK(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_CONFIGURATION_ERROR),
      0x260BC065u);
  EXPECT_EQ(Run("init = 0\n"), 1);
  EXPECT_FALSE(Initialised());
  EXPECT_EQ(Run("init = 0\n1.init = 1\n"), 1);  // each entry its own value
  EXPECT_TRUE(Initialised());
  CONF_modules_finish();
  EXPECT_FALSE(Initialised());
  EXPECT_EQ(Run("default_algorithms = CIPHERS\n"), 1);  // no "init": initialised
  EXPECT_TRUE(Initialised());
  testing::internal::GetCapturedStderr();
}

// A failed load finishes only the engines it initialised itself.
TEST_F(EnginesModule, AFailedLoadKeepsTheEnginesOfAnother) {
  ENGINE* e = engine_test::MakeEngine("counted");
  ASSERT_EQ(ENGINE_add(e), 1);
  ASSERT_EQ(Run("engine_id = counted\ninit = 1\n") + Run("engine_id = counted\ninit = 1\n"), 2);
  EXPECT_EQ(Run("engine_id = nosuch\ninit = 1\n"), -1);
  ERR_clear_error();
  EXPECT_EQ(engine_test::CountsOf(e).finishes, 0);
  CONF_modules_finish();
  EXPECT_EQ(engine_test::CountsOf(e).finishes, 1);
  ENGINE_free(e);
}

TEST_F(EnginesModule, EmptyDefaultAlgorithmsAreRefused) {
  EXPECT_EQ(Run("default_algorithms = EMPTY\n"), -1);
  EXPECT_ERRORS(
      {{ERR_LIB_ENGINE, ENGINE_F_ENGINE_SET_DEFAULT_STRING, ENGINE_R_INVALID_STRING, "str="},
       {ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_CONFIGURATION_ERROR,
        "section=e_s, name=default_algorithms, value=EMPTY"},
       kModuleRunError});
}

// ---- the software engine -----------------------------------------------------

TEST(SoftwareEngine, LoadingTwiceKeepsTheCallersErrors) {
  ERR_put_error(ERR_LIB_USER, 1, 2, "t.cc", 1);
  ENGINE_load_morvane();
  ENGINE_load_morvane();  // "conflicting engine id", taken off again
  EXPECT_ERRORS({{ERR_LIB_USER, 1, 2}});
  EXPECT_EQ(CountListed("morvane"), 1);
  ENGINE_cleanup();
}

TEST(SoftwareEngine, LoadingAgainKeepsTheCallersMark) {
  ENGINE_load_morvane();
  EXPECT_TRUE(morvane_test::KeepsCallersMark([] {
    ENGINE_load_morvane();  // "conflicting engine id", taken off again
    return CountListed("morvane") == 1;
  }));
  ENGINE_cleanup();
}

TEST(SoftwareEngine, OffersRc4AndSha1) {
  ENGINE_load_morvane();
  ENGINE* e = ENGINE_by_id("morvane");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(ENGINE_get_name(e), "Software engine support");
  const int* nids = nullptr;
  ENGINE_CIPHERS_PTR ciphers = ENGINE_get_ciphers(e);
  EXPECT_EQ(ciphers(e, nullptr, &nids, 0), 2);
  EXPECT_EQ(std::vector<int>(nids, nids + 2), (std::vector<int>{5, 97}));
  const EVP_CIPHER* c = EVP_rc4();
  EXPECT_EQ(ciphers(e, &c, nullptr, 4), 0);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(ENGINE_get_digests(e)(e, nullptr, &nids, 0), 1);
  EXPECT_EQ(nids[0], 64);
  ENGINE_free(e);
  ENGINE_cleanup();
}

std::string Rc4(ENGINE* e, const std::string& key, const std::string& data, int* ok) {
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  std::string out(data.size(), '\0');
  int n = 0;
  *ok = EVP_EncryptInit_ex(&ctx, EVP_rc4(), e, nullptr, nullptr) &&
        EVP_CIPHER_CTX_set_key_length(&ctx, static_cast<int>(key.size())) &&
        EVP_EncryptInit_ex(&ctx, nullptr, nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), nullptr) &&
        EVP_EncryptUpdate(&ctx, reinterpret_cast<unsigned char*>(&out[0]), &n,
                          reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size()));
  EVP_CIPHER_CTX_cleanup(&ctx);
  return out;
}

TEST(SoftwareEngine, Rc4EncryptsAsTheBuiltInOneAndAnnouncesEachKey) {
  ENGINE_load_morvane();
  ENGINE* e = ENGINE_by_id("morvane");
  ASSERT_NE(e, nullptr);
  const std::string data = "a message of some length";
  int ok = 0;
  testing::internal::CaptureStderr();
  const std::string by_engine = Rc4(e, "0123456789abcdef", data, &ok);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(printed, "(TEST_ENG_MORVANE_RC4) test_init_key() called\n");
  EXPECT_EQ(by_engine, Rc4(nullptr, "0123456789abcdef", data, &ok));
  // A key longer than the engine's 16-byte key copy is refused.
  testing::internal::CaptureStderr();
  Rc4(e, std::string(17, 'k'), data, &ok);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ok, 0);
  ERR_clear_error();
  ENGINE_free(e);
  ENGINE_cleanup();
}

}  // namespace
