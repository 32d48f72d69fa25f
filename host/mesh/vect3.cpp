#include "host/mesh/vect3.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>

#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"
#include "platform/format.h"

namespace ph {

namespace {
double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

void putFloat(unsigned char*& out, float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, 4);
  for (int i = 0; i < 4; ++i) *out++ = static_cast<unsigned char>(u >> (8 * i));
}

float getFloat(const unsigned char*& in) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= std::uint32_t(*in++) << (8 * i);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
}  // namespace

double vect3Length(vect3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

vect3 vect3Normalize(vect3 v) {
  const double len = vect3Length(v);
  if (len <= 1e-6) return v;
  return {v.x / len, v.y / len, v.z / len};
}

double vect3Angle(vect3 a, vect3 b, vect3 n) {
  double c = vect3Dot(vect3Normalize(a), vect3Normalize(b));
  // Rounding may carry the cosine of parallel vectors just past 1.
  c = c > 1.0 ? 1.0 : c < -1.0 ? -1.0 : c;
  const double angle = std::acos(c) * 180.0 / std::numbers::pi;
  return vect3Dot(a, vect3Cross(b, n)) < 0.0 ? -angle : angle;
}

vect3 vect3RotateAxis(int k, double angle, vect3 v) {
  const double c = std::cos(radians(angle)), s = std::sin(radians(angle));
  double p[3] = {v.x, v.y, v.z};
  const int i = (k + 1) % 3, j = (i + 1) % 3;
  const double vi = p[i], vj = p[j];
  p[i] = c * vi - s * vj;
  p[j] = s * vi + c * vj;
  return {p[0], p[1], p[2]};
}

Matrix4 rotationMatrix(double angle, double x, double y, double z) {
  const double L = x * x + y * y + z * z;
  const double r = std::sqrt(L);
  const double c = std::cos(radians(angle)), s = std::sin(radians(angle)), k = 1.0 - c;
  Matrix4 m{};
  m[0] = {((y * y + z * z) * c + x * x) / L, (x * y * k - z * r * s) / L, (x * z * k + y * r * s) / L, 0.0};
  m[1] = {(x * y * k + z * r * s) / L, ((x * x + z * z) * c + y * y) / L, (y * z * k - x * r * s) / L, 0.0};
  m[2] = {(x * z * k - y * r * s) / L, (y * z * k + x * r * s) / L, ((x * x + y * y) * c + z * z) / L, 0.0};
  m[3] = {0.0, 0.0, 0.0, 1.0};
  return m;
}

Point4 vect3Transform(const Matrix4& m, const Point4& p) {
  Point4 out{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out[i] += m[i][j] * p[j];
  return out;
}

vect3 vect3RotateAboutLine(vect3 a, vect3 b, double angle, vect3 p) {
  const vect3 axis = b - a;
  const vect3 q = p - a;
  const Point4 r = vect3Transform(rotationMatrix(angle, axis.x, axis.y, axis.z), {q.x, q.y, q.z, 1.0});
  return vect3{r[0], r[1], r[2]} + a;
}

void stlFacetToBytes(const stlFacet& f, unsigned char* out) {
  for (float v : f.normal) putFloat(out, v);
  for (const auto& c : f.corner)
    for (float v : c) putFloat(out, v);
  out[0] = static_cast<unsigned char>(f.attribute & 0xFF);
  out[1] = static_cast<unsigned char>(f.attribute >> 8);
}

stlFacet stlFacetFromBytes(const unsigned char* in) {
  stlFacet f;
  for (float& v : f.normal) v = getFloat(in);
  for (auto& c : f.corner)
    for (float& v : c) v = getFloat(in);
  f.attribute = static_cast<std::uint16_t>(in[0] | in[1] << 8);
  return f;
}

void setFacetNormal(stlFacet& facet) {
  const vect3 p0 = vect3FromFloats(facet.corner[0]), p1 = vect3FromFloats(facet.corner[1]),
              p2 = vect3FromFloats(facet.corner[2]);
  vect3ToFloats(facet.normal, facetNormalOf(p0, p1, p2));
}

bool linePlaneHit(vect3& out, vect3 d, vect3 p, vect3 n, vect3 q) {
  const double nd = vect3Dot(n, d);
  if (nd == 0.0) return false;
  const float nq = float(vect3Dot(n, q));
  const float t = float((double(nq) - vect3Dot(n, p)) / nd);
  out = p + vect3Normalize(d) * double(t);
  return true;
}

std::string vect3Text(vect3 v) { return plat::format("%3.2f,%3.2f,%3.2f", v.x, v.y, v.z); }

vect3 vect3Parse(const std::string& text) {
  std::string rest = text;
  double c[3];
  for (double& v : c) {
    const std::string piece = popToken(rest, ',');
    if (!parseNumber(trimView(piece), v)) throw std::invalid_argument("'" + piece + "' is not a number");
  }
  return {c[0], c[1], c[2]};
}

}  // namespace ph
