#include "host/mesh/stl_to_obj.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/mesh/obj_to_stl.h"
#include "host/mesh/stl_stream.h"
#include "host/mesh/text_out_file.h"

namespace ph {

namespace {

// Chains follow neighbours only this deep; faces cut off start chains of
// their own later.
constexpr int kChainDepth = 500;

using CornerBytes = std::array<unsigned char, 12>;
struct CornerHash {
  std::size_t operator()(const CornerBytes& b) const {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : b) h = (h ^ c) * 1099511628211ull;
    return std::size_t(h);
  }
};

int red5(std::uint16_t a) { return a >> 10 & 31; }
int green5(std::uint16_t a) { return a >> 5 & 31; }
int blue5(std::uint16_t a) { return a & 31; }

using OutFile = TextOutFile;

struct Face {
  std::int32_t colour = 0;  // colour number from 1; 0 once written
  std::int32_t v[3] = {0, 0, 0};
  std::uint16_t attribute = 0;
  int octant = 0;
};

class Writer {
 public:
  Writer(OutFile& out, std::vector<Face>& faces, const std::vector<std::vector<std::int32_t>>& uses, bool spectrum,
         bool depth)
      : out_(out), faces_(faces), uses_(uses), spectrum_(spectrum), depth_(depth) {}

  void faceLine(const Face& f, std::int32_t colour) {
    if (depth_) {
      out_.print("f %d/%d %d/%d %d/%d\n", f.v[0], f.v[0], f.v[1], f.v[1], f.v[2], f.v[2]);
    } else if (spectrum_) {
      const std::int32_t t = 3 * colour;
      out_.print("f %d/%d %d/%d %d/%d\n", f.v[0], t - 2, f.v[1], t - 1, f.v[2], t);
    } else {
      out_.print("f %d %d %d\n", f.v[0], f.v[1], f.v[2]);
    }
  }

  // The face and its same-coloured neighbourhood: the first neighbour
  // found continues the chain, the others start chains one level deeper.
  void writeFaceChain(std::int32_t start, int depth) {
    const std::int32_t colour = faces_[std::size_t(start)].colour;
    faces_[std::size_t(start)].colour = 0;
    for (std::int32_t cur = start; cur >= 0;) {
      const Face& f = faces_[std::size_t(cur)];
      faceLine(f, colour);
      std::int32_t next = -1;
      if (depth < kChainDepth) {
        for (int k = 0; k < 3; ++k) {
          const auto& use = uses_[std::size_t(f.v[k])];
          // Newest user first.
          for (auto it = use.rbegin(); it != use.rend(); ++it) {
            Face& g = faces_[std::size_t(*it)];
            if (g.colour != colour) continue;
            if (next < 0) {
              next = *it;
              g.colour = 0;
            } else {
              writeFaceChain(*it, depth + 1);
            }
          }
        }
      }
      cur = next;
    }
  }

 private:
  OutFile& out_;
  std::vector<Face>& faces_;
  const std::vector<std::vector<std::int32_t>>& uses_;
  bool spectrum_, depth_;
};

}  // namespace

int firstCornerOctant(const float corner[3]) {
  int q = 0;
  for (int k = 0; k < 3; ++k)
    if (corner[k] < 0.0f) q |= 1 << k;
  return q;
}

bool StlToObj::convert(const std::string& stl, const std::string& folder, const StlToObjSettings& set,
                       const DepthImageRun* depth) {
  facets = vertices = colours = 0;
  // Depth-image runs are always in material mode.
  const bool vertexColours = !depth && set.withVertCol != 0;
  const bool spectrum = !depth && !vertexColours && set.spectrumcolors != 0;
  const bool quadrants = set.quadrantgroups != 0;
  const bool singlegroup = set.singlegroup != 0 && !quadrants;

  StlReader in(core_);
  if (!in.open(stl)) return false;
  std::unordered_map<CornerBytes, std::int32_t, CornerHash> vertexNumbers;
  std::vector<std::array<float, 3>> positions(1);                   // by vertex number, from 1
  std::vector<std::vector<std::int32_t>> uses(1);                   // faces using each vertex
  std::unordered_map<std::uint16_t, std::int32_t> colourNumbers;
  std::vector<std::uint16_t> colourAttribute(1);                    // by colour number, from 1
  std::vector<std::vector<std::int32_t>> colourFaces(1);            // in file order
  std::vector<Face> faces;
  int vertexMark = 10000, colourMark = 10000;
  stlFacet sf;
  while (in.next(sf)) {
    if (!finiteCorners(sf)) {
      core_.memoPrintf("%s: facet %d has a corner that is not a number: not converted", stl, facets + 1);
      return false;
    }
    const std::int32_t index = std::int32_t(faces.size());
    Face f;
    f.attribute = sf.attribute;
    f.octant = firstCornerOctant(sf.corner[0].data());
    for (int k = 0; k < 3; ++k) {
      CornerBytes key;
      std::memcpy(key.data(), sf.corner[k].data(), 12);
      auto [it, isNew] = vertexNumbers.try_emplace(key, std::int32_t(positions.size()));
      if (isNew) {
        positions.push_back(sf.corner[k]);
        uses.emplace_back();
        if (++vertices >= vertexMark) {
          core_.memoPrintf("%d vertices", vertices);
          vertexMark += 10000;
        }
      }
      f.v[k] = it->second;
      uses[std::size_t(it->second)].push_back(index);
    }
    auto [c, isNewColour] = colourNumbers.try_emplace(sf.attribute, std::int32_t(colourAttribute.size()));
    if (isNewColour) {
      colourAttribute.push_back(sf.attribute);
      colourFaces.emplace_back();
      if (++colours >= colourMark) {
        core_.memoPrintf("%smark %d", "colorcount", colours);
        colourMark += 10000;
      }
    }
    f.colour = c->second;
    colourFaces[std::size_t(f.colour)].push_back(index);
    faces.push_back(f);
    ++facets;
  }
  if (in.failed()) return false;
  if (faces.empty()) {
    core_.memoPrintf("%s holds no facets: no OBJ written", stl);
    return false;
  }
  core_.logVars("triangcount", facets, "colorcount", colours, "verticount", vertices);

  const std::string destname = depth ? fileCore(depth->picture) : set.destname;
  const std::string base = folder + "/" + destname;
  OutFile mtl(core_, base + ".mtl");
  const bool writeMtl = !spectrum && !vertexColours;
  if (writeMtl) {
    if (!mtl.open()) return false;
    mtl.put("#Orlim stl convert\n\n");
    for (std::size_t i = 1; i < colourAttribute.size(); ++i) {
      const std::uint16_t a = depth ? 0xFFFF : colourAttribute[i];
      const float lift = float(set.brightness) * (1.0f / 256.0f);
      auto channel = [&](int field) { return double(clampFloat(float(field) * (1.0f / 31.0f) + lift, 0.0f, 1.0f)); };
      mtl.print("newmtl %s%d\nKa 0.0000 0.0000 0.0000\nKd %4.3f %4.3f %4.3f\nKs 1.0000 1.0000 1.0000\n"
                "Tf 0.0000 0.0000 0.0000\nd 1.0000\nNs 0\n",
                set.MaterialStr, int(i), channel(red5(a)), channel(green5(a)), channel(blue5(a)));
      if (depth) mtl.print("map_Kd %s\n\n", fileNamePart(depth->picture));
      else mtl.put("\n");
    }
  }

  OutFile obj(core_, base + ".obj");
  if (!obj.open()) return false;
  if (spectrum) obj.put("# Orlim\nmtllib spectrum.mtl\n");
  else if (!vertexColours) obj.print("# Orlim\nmtllib %s.mtl\n", destname);

  // With vertex colours: the mean 5-bit fields of the faces around each vertex.
  std::vector<std::array<std::int64_t, 4>> vertexSums;
  if (vertexColours) {
    vertexSums.assign(positions.size(), {0, 0, 0, 0});
    for (const Face& f : faces)
      for (int k = 0; k < 3; ++k) {
        auto& s = vertexSums[std::size_t(f.v[k])];
        ++s[0];
        s[1] += red5(f.attribute);
        s[2] += green5(f.attribute);
        s[3] += blue5(f.attribute);
      }
  }
  for (std::size_t n = 1; n < positions.size(); ++n) {
    const auto& p = positions[n];
    if (depth) {
      const double x = p[0], y = p[1], z = p[2];
      obj.print("v %6.5f %6.5f %6.5f\n", -(x - 211.0) * z * 2.5452 * 0.001, (y - 158.0) * z * 2.5452 * 0.001, -z);
      const double zz = z == 0.0 ? 1e-8 : z;
      const double u = double(0.00088028f) * x + (depth->textureshift + 372) / 1136.0 + (9806.0 / zz - 9.8) / 1136.0;
      const double v = double(-0.0015625f) * y + double(-0.009375f);
      obj.print("vt %6.5f %6.5f\n", u, v);
      continue;
    }
    obj.print("v %6.5f %6.5f %6.5f", double(p[0]), double(p[1]), double(p[2]));
    if (vertexColours) {
      const auto& s = vertexSums[n];
      for (int c = 1; c <= 3; ++c) obj.print(" %6.5f", double(s[std::size_t(c)]) * 1.000001 / double(s[0]) * 0.03125);
    }
    obj.put("\n");
  }

  if (spectrum) {
    for (std::size_t i = 1; i < colourAttribute.size(); ++i) {
      const std::uint16_t c = colourAttribute[i] & 0x7FFF;
      int r = red5(c), g = green5(c), b = blue5(c);
      if (set.brightness != 0) {
        const int lift = set.brightness / 8;
        r = clampInt(r + lift, 0, 31);
        g = clampInt(g + lift, 0, 31);
        b = clampInt(b + lift, 0, 31);
      }
      const int X = r * 32 + 4 * ((b & 2) + (b & 8) / 2);
      const int Y = g * 32 + 2 * ((b & 4) + (b & 16) / 2);
      const double u = X / 1024.0, v = 1.0 - Y / 1024.0, px = 1.0 / 1024.0;
      if ((b & 1) == 0) obj.print("vt %g %g\nvt %g %g\nvt %g %g\n", u, v, u + 6 * px, v, u, v - 6 * px);
      else obj.print("vt %g %g\nvt %g %g\nvt %g %g\n", u + 7 * px, v - px, u + 7 * px, v - 7 * px, u + px, v - 7 * px);
    }
    if (!quadrants) obj.put("\n\ng all\nusemtl spectrum\n");
  }

  Writer w(obj, faces, uses, spectrum, depth != nullptr);
  if (quadrants) {
    for (int q = 0; q < 8; ++q) {
      obj.print("g quad_%d\n", q);
      obj.put("usemtl spectrum\n");
      for (std::size_t i = 0; i < faces.size(); ++i)
        if (faces[i].colour != 0 && faces[i].octant == q && faces[i].attribute != glasscode)
          w.writeFaceChain(std::int32_t(i), 0);
      obj.print("g inquad_%d\n", q);
      obj.put("usemtl nocolor\n");
      for (Face& f : faces)
        if (f.colour != 0 && f.octant == q && f.attribute == glasscode) {
          obj.print("f %d %d %d\n", f.v[0], f.v[1], f.v[2]);
          f.colour = 0;
        }
    }
  } else {
    if (singlegroup) obj.put("g object_00\n");
    int chain = 0;
    for (std::size_t i = 1; i < colourFaces.size(); ++i)
      for (std::int32_t index : colourFaces[i]) {
        if (faces[std::size_t(index)].colour == 0) continue;
        ++chain;
        if (!spectrum) {
          if (!singlegroup) obj.print("g object_%d\n", chain);
          if (!vertexColours) obj.print("usemtl %s%d\n", set.MaterialStr, int(i));
        }
        w.writeFaceChain(index, 0);
      }
  }
  if (writeMtl && !mtl.commit()) return false;
  return obj.commit();
}

}  // namespace ph
