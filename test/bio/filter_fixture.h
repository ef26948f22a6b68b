// A filter stream pushed in front of a scriptable test stream, for the
// filter suites.  A fixture names the filter type with Method().
#ifndef MORVANE_TEST_BIO_FILTER_FIXTURE_H
#define MORVANE_TEST_BIO_FILTER_FIXTURE_H

#include <gtest/gtest.h>

#include <morvane/bio.h>

#include "scripted_stream.h"

class FilterOverScripted : public ::testing::Test {
 protected:
  virtual BIO_METHOD* Method() = 0;
  void SetUp() override {
    f = BIO_new(Method());
    next = morvane_test::NewScriptedStream();
    ASSERT_NE(f, nullptr);
    ASSERT_NE(next, nullptr);
    BIO_push(f, next);
  }
  void TearDown() override { BIO_free_all(f); }

  BIO* f = nullptr;     // the filter, head of the chain
  BIO* next = nullptr;  // the scripted stream behind it
};

#endif  // MORVANE_TEST_BIO_FILTER_FIXTURE_H
