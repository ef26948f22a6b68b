// The configuration store used directly: sections, values, replacement and
// freeing, as components that build configurations themselves use it.

#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

#include "conf_test_util.h"

namespace {

using conf_test::Pairs;
using conf_test::Sections;

// A value record owning copies of `name` and `value`.
CONF_VALUE* NewValue(const char* name, const char* value) {
  auto* v = static_cast<CONF_VALUE*>(MORVANE_malloc(sizeof(CONF_VALUE)));
  v->section = nullptr;
  v->name = MORVANE_strdup(name);
  v->value = MORVANE_strdup(value);
  return v;
}

TEST(ConfStore, NewData) {
  EXPECT_EQ(_CONF_new_data(nullptr), 0);
  CONF* conf = NCONF_new(nullptr);
  ASSERT_EQ(_CONF_new_data(conf), 1);
  LHASH* table = conf->data;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(_CONF_new_data(conf), 1);
  EXPECT_EQ(conf->data, table) << "an existing table is kept";
  _CONF_free_data(conf);
  EXPECT_EQ(conf->data, nullptr);
  _CONF_free_data(conf);
  _CONF_free_data(nullptr);
  NCONF_free(conf);
}

TEST(ConfStore, SectionsAndValues) {
  CONF* conf = NCONF_new(nullptr);
  ASSERT_EQ(_CONF_new_data(conf), 1);
  EXPECT_EQ(_CONF_get_section(conf, "s"), nullptr);
  EXPECT_EQ(_CONF_get_section_values(conf, "s"), nullptr);
  EXPECT_EQ(_CONF_get_section(nullptr, "s"), nullptr);
  EXPECT_EQ(_CONF_get_section(conf, nullptr), nullptr);

  CONF_VALUE* s = _CONF_new_section(conf, "s");
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->section, "s");
  EXPECT_EQ(s->name, nullptr);
  EXPECT_EQ(_CONF_get_section(conf, "s"), s);
  EXPECT_EQ(sk_num(_CONF_get_section_values(conf, "s")), 0);

  CONF_VALUE* a = NewValue("a", "1");
  ASSERT_EQ(_CONF_add_string(conf, s, a), 1);
  EXPECT_EQ(a->section, s->section) << "the value borrows the section's name";
  // A value named like its section is a different record from the section.
  ASSERT_EQ(_CONF_add_string(conf, s, NewValue("s", "self")), 1);
  EXPECT_EQ(_CONF_get_section(conf, "s"), s);
  EXPECT_STREQ(_CONF_get_string(conf, "s", "s"), "self");
  // Replacing frees the old record and appends the new one.
  ASSERT_EQ(_CONF_add_string(conf, s, NewValue("a", "2")), 1);
  EXPECT_EQ(conf_test::ReadStore(conf), (Sections{{"s", {{"s", "self"}, {"a", "2"}}}}));
  EXPECT_STREQ(_CONF_get_string(conf, "s", "a"), "2");
  EXPECT_EQ(_CONF_get_string(conf, "s", "b"), nullptr);
  EXPECT_EQ(_CONF_get_string(conf, nullptr, "a"), nullptr);
  NCONF_free(conf);
}

TEST(ConfStore, ManyRecords) {
  CONF* conf = NCONF_new(nullptr);
  ASSERT_EQ(_CONF_new_data(conf), 1);
  Sections want;
  for (int i = 0; i < 50; i++) {
    const std::string sect = "sect" + std::to_string(i);
    CONF_VALUE* s = _CONF_new_section(conf, sect.c_str());
    ASSERT_NE(s, nullptr);
    Pairs& pairs = want[sect];
    for (int j = 0; j < 40; j++) {
      const std::string name = "n" + std::to_string(j), value = std::to_string(i * j);
      ASSERT_EQ(_CONF_add_string(conf, s, NewValue(name.c_str(), value.c_str())), 1);
      pairs.emplace_back(name, value);
    }
  }
  EXPECT_EQ(lh_num_items(conf->data), 50u * 41u);
  EXPECT_EQ(conf_test::ReadStore(conf), want);
  EXPECT_STREQ(_CONF_get_string(conf, "sect7", "n6"), "42");
  NCONF_free_data(conf);  // frees every record: the leak checker watches
  EXPECT_EQ(conf->data, nullptr);
  NCONF_free(conf);
}

}  // namespace
