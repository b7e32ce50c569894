#include <gtest/gtest.h>
#include "regex/RegExpr.h"
using namespace quillmark;
TEST(Smoke, Basic) { EXPECT_TRUE(MatchExpression("abc", "xxabcxx")); }
