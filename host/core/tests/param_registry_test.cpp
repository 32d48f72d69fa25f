#include "host/core/param_registry.h"

#include <gtest/gtest.h>

using namespace ph;

TEST(ParamTable, GroupsGatherAndHiddenHasNone) {
  ParamTable t;
  int a = 1, b = 2, c = 3;
  t.beginParamGroup("fdm");
  t.addparint("a", a, "");
  t.beginParamGroup("hidden");
  t.addparint("b", b, "");
  t.beginParamGroup("files");
  t.beginParamGroup("fdm");
  t.addparint("#c", c, "");
  EXPECT_EQ(t.paramGroups(), (std::vector<std::string>{"fdm", "files"}));
  EXPECT_EQ(t.entry(0).paramGroup, 0);
  EXPECT_EQ(t.entry(1).paramGroup, -1);
  EXPECT_EQ(t.entry(2).paramGroup, 0);
  EXPECT_EQ(t.filesGroup(), 1);
  EXPECT_EQ(t.entry(2).paramName, "c");
  EXPECT_TRUE(t.isNoMerge("c"));
  EXPECT_FALSE(t.isNoMerge("a"));
}
