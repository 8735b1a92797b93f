// The shared list of loaded segments.
#include <gtest/gtest.h>

#include "model/segment_file.h"
#include "model/segment_registry.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::SourceDir;

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

// Catches: a segment document that never gives its use back, so the count
// only grows and a closed segment's name stays "already used".
TEST(SegmentRegistryTest, AClosedSegmentReleasesItsUse) {
  const std::string box = (SourceDir() / "examples" / "box.seg").string();
  SegmentRegistry registry;
  {
    Result<Segment> first = OpenSegment(box, registry);
    ASSERT_TRUE(first) << first.failure().detail;
    EXPECT_EQ(registry.UseCount(box), 1);
    {
      Result<Segment> second = OpenSegment(box, registry);
      ASSERT_TRUE(second);
      EXPECT_EQ(second->splines.get(), first->splines.get());
      EXPECT_EQ(registry.UseCount(box), 2);
      // Moving a document moves its use, it does not add one.
      Segment moved = std::move(*second);
      EXPECT_EQ(registry.UseCount(box), 2);
    }
    EXPECT_EQ(registry.UseCount(box), 1);
    // A read that is not kept gives its use back too.
    { ASSERT_TRUE(ReadSegment(box, /*merge=*/false, registry)); }
    EXPECT_EQ(registry.UseCount(box), 1);
    EXPECT_TRUE(ReadSegment(box, /*merge=*/true, registry));
    EXPECT_EQ(registry.UseCount(box), 1) << "a merge is no use";
  }
  EXPECT_EQ(registry.UseCount(box), 0);
  EXPECT_EQ(registry.Size(), 0u);
}

// Catches: a use released twice (after a move or an explicit reset), or
// reaching a registry that is gone.
TEST(SegmentRegistryTest, UsesReleaseOnceAndOutliveTheirRegistry) {
  SegmentRegistry::Use late;
  {
    SegmentRegistry registry;
    auto splines = std::make_shared<SplineSet>();
    registry.Register("a.seg", splines, {});
    registry.Acquire("a.seg");
    SegmentRegistry::Use one = registry.Adopt("a.seg");
    SegmentRegistry::Use two = registry.Adopt("a.seg");
    EXPECT_TRUE(one.Held());
    SegmentRegistry::Use taken = std::move(one);
    EXPECT_FALSE(one.Held());  // NOLINT(bugprone-use-after-move): moved-from is empty
    taken.Reset();
    taken.Reset();
    EXPECT_EQ(registry.UseCount("a.seg"), 1);
    late = std::move(two);
    EXPECT_EQ(registry.UseCount("a.seg"), 1);
  }
  EXPECT_FALSE(late.Held());
  late.Reset();  // the registry is gone: nothing to release
}

}  // namespace
}  // namespace zentrope
