// Names typed tests after each type's kName.
#ifndef MORVANE_TEST_CIPHERS_TYPE_NAMES_H
#define MORVANE_TEST_CIPHERS_TYPE_NAMES_H

#include <string>

struct TypeNames {
  template <class T>
  static std::string GetName(int) {
    return T::kName;
  }
};

#endif  // MORVANE_TEST_CIPHERS_TYPE_NAMES_H
