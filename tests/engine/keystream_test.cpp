#include "keystream.h"

#include <gtest/gtest.h>

namespace vexlor {
namespace {

struct KeyCase {
  const char* password;
  int64_t key;
};

TEST(DerivePasswordKey, KnownKeys) {
  const KeyCase cases[] = {
      {"", 549755813887LL},
      {"A", 65 * 549755813887LL},
      {"\x7f", 127 * 549755813887LL},
  };
  for (const KeyCase& c : cases) {
    EXPECT_EQ(DerivePasswordKey(c.password), c.key) << "password \"" << c.password << "\"";
  }
}

}  // namespace
}  // namespace vexlor
