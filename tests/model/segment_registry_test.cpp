// The shared list of loaded segments.
#include <gtest/gtest.h>

#include "model/segment_registry.h"

namespace zentrope {
namespace {

TEST(SegmentRegistryTest, SecondOpenSharesSplinesAndCounts) {
  SegmentRegistry registry;
  EXPECT_EQ(registry.Acquire("models/arm.seg"), nullptr);
  auto splines = std::make_shared<SplineSet>();
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}};
  splines->AppendSpline(pos);
  const SegmentRegistry::Entry& first = registry.Register("models/arm.seg", splines, {1, 2, 3});
  EXPECT_EQ(first.useCount, 1);
  const SegmentRegistry::Entry* second = registry.Acquire("models/./arm.seg");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->splines.get(), splines.get());
  EXPECT_EQ(second->pivot, (Vector3{1, 2, 3}));
  EXPECT_EQ(registry.UseCount("models/arm.seg"), 2);

  // Registering a path already loaded does not replace its splines.
  registry.Register("models/arm.seg", std::make_shared<SplineSet>(), {});
  EXPECT_EQ(registry.UseCount("models/arm.seg"), 3);
  EXPECT_EQ(registry.Acquire("models/arm.seg")->splines.get(), splines.get());

  for (int i = 0; i < 3; ++i) {
    registry.Release("models/arm.seg");
  }
  EXPECT_EQ(registry.UseCount("models/arm.seg"), 1);
  registry.Release("models/arm.seg");
  EXPECT_EQ(registry.Size(), 0u);
  registry.Release("models/arm.seg");  // releasing an unknown path is harmless
  // The splines outlive the entry for whoever still holds them.
  EXPECT_EQ(splines->PointCount(), 2u);
}

}  // namespace
}  // namespace zentrope
