// The 3-vector maths: normalising, the two rotations, angles, the facet
// normal, the line-plane hit and the text form.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "host/mesh/vect3.h"

using namespace ph;

namespace {
void expectNear(vect3 a, vect3 b, double eps = 1e-9) {
  EXPECT_NEAR(a.x, b.x, eps);
  EXPECT_NEAR(a.y, b.y, eps);
  EXPECT_NEAR(a.z, b.z, eps);
}
}  // namespace

TEST(Vect3, NormaliseLeavesShortVectorsAlone) {
  struct Case {
    vect3 in, out;
  } cases[] = {{{0, 0, 0}, {0, 0, 0}}, {{1e-7, 0, 0}, {1e-7, 0, 0}}, {{3, 0, 4}, {0.6, 0, 0.8}}};
  for (const auto& c : cases) expectNear(vect3Normalize(c.in), c.out);
}

TEST(Vect3, ItemOutsideTheThreeIsZero) {
  const vect3 v{1, 2, 3};
  EXPECT_EQ(vect3Item(v, 2), 3.0);
  EXPECT_EQ(vect3Get(v, 3), 0.0);
  EXPECT_EQ(vect3Item(v, 255), 0.0);
}

TEST(Vect3, RotationsAreRightHandedInDegrees) {
  expectNear(vect3RotateAxis(2, 90, {1, 0, 0}), {0, 1, 0});
  expectNear(vect3RotateAxis(0, 90, {0, 1, 0}), {0, 0, 1});
  expectNear(vect3RotateAxis(1, 90, {0, 0, 1}), {1, 0, 0});
  // The length of the line's direction does not matter.
  expectNear(vect3RotateAboutLine({0, 0, 0}, {0, 0, 5}, 90, {1, 0, 0}), {0, 1, 0});
}

TEST(Vect3, RotationAboutALineAgreesWithTheAxisRotation) {
  // Two independent formulas: the matrix about a line through two points
  // and the plane rotation about a coordinate axis.
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> d(-100, 100);
  for (int i = 0; i < 200; ++i) {
    const vect3 p{d(rng), d(rng), d(rng)};
    const double angle = d(rng) * 3.6;
    const vect3 shift{d(rng), d(rng), d(rng)};
    const int axis = i % 3;
    vect3 dir{};
    (axis == 0 ? dir.x : axis == 1 ? dir.y : dir.z) = 2.5;
    // About the axis moved by `shift`: shift back, turn, shift again.
    const vect3 expected = vect3RotateAxis(axis, angle, p - shift) + shift;
    expectNear(vect3RotateAboutLine(shift, shift + dir, angle, p), expected, 1e-9);
  }
}

TEST(Vect3, AngleIsSignedByTheReferenceNormal) {
  EXPECT_NEAR(vect3Angle({1, 0, 0}, {0, 1, 0}, {0, 0, 1}), 90.0, 1e-9);
  EXPECT_NEAR(vect3Angle({0, 1, 0}, {1, 0, 0}, {0, 0, 1}), -90.0, 1e-9);
  // Parallel vectors whose cosine may round above 1 give about 0, not NaN.
  for (double k : {0.1, 0.3, 0.7, 1.1, 3.3})
    EXPECT_NEAR(vect3Angle({k, 2 * k, 3 * k}, {k, 2 * k, 3 * k}, {0, 0, 1}), 0.0, 1e-5);
}

TEST(Vect3, FacetNormalPointsOutOfCounterClockwiseCorners) {
  stlFacet f;
  f.corner[0] = {0, 0, 0};
  f.corner[1] = {1, 0, 0};
  f.corner[2] = {0, 1, 0};
  setFacetNormal(f);
  EXPECT_EQ(f.normal, (FloatTriple{0, 0, 1}));
  // A degenerate facet keeps the raw (zero) cross product.
  f.corner[2] = {2, 0, 0};
  setFacetNormal(f);
  EXPECT_EQ(f.normal, (FloatTriple{0, 0, 0}));
}

TEST(Vect3, FacetBytesAreLittleEndian) {
  stlFacet f;
  f.normal = {1.0f, 0, 0};
  f.attribute = 0x8421;
  unsigned char b[kStlFacetSize];
  stlFacetToBytes(f, b);
  EXPECT_EQ(b[0], 0x00);
  EXPECT_EQ(b[3], 0x3F);  // 1.0f is 0x3F800000
  EXPECT_EQ(b[2], 0x80);
  EXPECT_EQ(b[48], 0x21);
  EXPECT_EQ(b[49], 0x84);
  const stlFacet back = stlFacetFromBytes(b);
  EXPECT_EQ(back.normal, f.normal);
  EXPECT_EQ(back.attribute, f.attribute);
}

TEST(Vect3, LinePlaneHit) {
  vect3 out{9, 9, 9};
  EXPECT_FALSE(linePlaneHit(out, {1, 0, 0}, {0, 0, 5}, {0, 0, 1}, {0, 0, 0}));
  expectNear(out, {9, 9, 9});
  ASSERT_TRUE(linePlaneHit(out, {0, 0, -1}, {2, 3, 5}, {0, 0, 1}, {0, 0, 1}));
  expectNear(out, {2, 3, 1});
}

TEST(Vect3, TextFormAndParse) {
  EXPECT_EQ(vect3Text({1, 2.5, -0.5}), "1.00,2.50,-0.50");
  expectNear(vect3Parse(" 1.5, -2 ,3e1"), {1.5, -2, 30});
  EXPECT_THROW(vect3Parse("1,2"), std::invalid_argument);
  EXPECT_THROW(vect3Parse("1,x,2"), std::invalid_argument);
}
