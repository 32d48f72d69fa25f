#pragma once
// The geometry type of the mesh tools: a 3-vector of doubles passed by value,
// with the arithmetic, rotations, facet normals and a line-plane hit.
// Rotations are right-handed and take degrees.
#include <array>
#include <cstdint>
#include <string>

namespace ph {

struct vect3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

inline vect3 operator+(vect3 a, vect3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline vect3 operator-(vect3 a, vect3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline vect3 operator*(vect3 a, double f) { return {a.x * f, a.y * f, a.z * f}; }
inline bool operator==(vect3 a, vect3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

using FloatTriple = std::array<float, 3>;

inline vect3 vect3Make(double x, double y, double z) { return {x, y, z}; }
inline vect3 vect3FromFloats(const FloatTriple& f) { return {f[0], f[1], f[2]}; }
// Stores the vector rounded to single precision.
inline FloatTriple& vect3ToFloats(FloatTriple& dest, vect3 v) {
  dest = {float(v.x), float(v.y), float(v.z)};
  return dest;
}
inline vect3 vect3Copy(vect3 v) { return v; }
// x, y, z for 0, 1, 2; 0.0 for any other index.
inline double vect3Item(vect3 v, std::uint8_t i) { return i == 0 ? v.x : i == 1 ? v.y : i == 2 ? v.z : 0.0; }
inline double vect3Get(vect3 v, std::uint8_t i) { return vect3Item(v, i); }
inline vect3 vect3Add(vect3 a, vect3 b) { return a + b; }
inline vect3 vect3Sub(vect3 a, vect3 b) { return a - b; }
inline vect3 vect3Scale(vect3 v, double f) { return v * f; }
inline double vect3Dot(vect3 a, vect3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline vect3 vect3Cross(vect3 a, vect3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double vect3Length(vect3 v);
inline double vect3Distance(vect3 a, vect3 b) { return vect3Length(a - b); }
// The unit vector; vectors of length 1e-6 or less come back unchanged.
vect3 vect3Normalize(vect3 v);
// The angle between a and b in degrees, negative when a lies on the negative
// side of the plane through b and the reference normal n.
double vect3Angle(vect3 a, vect3 b, vect3 n);
// Turned about coordinate axis k (0 = x, 1 = y, 2 = z) through the origin.
vect3 vect3RotateAxis(int k, double angle, vect3 v);

// A 4 x 4 transform, row by row, and a point with w.
using Matrix4 = std::array<std::array<double, 4>, 4>;
using Point4 = std::array<double, 4>;
// The rotation by the angle about the axis (x, y, z) through the origin; the
// axis need not be a unit vector but must not be zero.
Matrix4 rotationMatrix(double angle, double x, double y, double z);
Point4 vect3Transform(const Matrix4& m, const Point4& p);
// P turned about the line through A and B (direction B - A).
vect3 vect3RotateAboutLine(vect3 a, vect3 b, double angle, vect3 p);

// The 50-byte facet of a binary STL and its 84-byte head.
struct stlFacet {
  FloatTriple normal{};
  FloatTriple corner[3]{};
  std::uint16_t attribute = 0;
};
constexpr int kStlHeadSize = 84;
constexpr int kStlFacetSize = 50;
// Little-endian on disk, whatever the machine.
void stlFacetToBytes(const stlFacet& f, unsigned char* out);
stlFacet stlFacetFromBytes(const unsigned char* in);

// The normal from the corners: normalize((P0 - P1) x (P0 - P2)); a degenerate
// facet keeps the raw cross product.
void setFacetNormal(stlFacet& facet);
inline vect3 facetNormalOf(vect3 p0, vect3 p1, vect3 p2) { return vect3Normalize(vect3Cross(p0 - p1, p0 - p2)); }

// Where the line through p along the unit direction d meets the plane through
// q with normal n; false (out untouched) when they are parallel.
bool linePlaneHit(vect3& out, vect3 d, vect3 p, vect3 n, vect3 q);

// "%3.2f,%3.2f,%3.2f"
std::string vect3Text(vect3 v);
// Three comma-separated numbers; throws std::invalid_argument naming the
// piece that is not a number.
vect3 vect3Parse(const std::string& text);

}  // namespace ph
