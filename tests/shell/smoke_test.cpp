#include <gtest/gtest.h>

#include "shell/statuslog.h"

TEST(Smoke, Builds) { EXPECT_EQ(lumivane::FormatNumber(0.8f, 7), " .8"); }
