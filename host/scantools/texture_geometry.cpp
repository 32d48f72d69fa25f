#include "host/scantools/texture_geometry.h"

#include <QBuffer>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/core/jpeg_io.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/stl_stream.h"
#include "host/mesh/text_out_file.h"
#include "platform/atomic_file.h"

namespace ph {

std::string textBefore(const std::string& text, char sep) {
  const std::size_t at = text.find(sep);
  return at == std::string::npos ? text : text.substr(0, at);
}

vect3 perpXY(vect3 v) { return {v.y, -double(float(v.x)), v.z}; }

bool texPointParams(const UvPoint tri[3], float x, float y, float& s, float& t) {
  const vect3 a{tri[0].u, tri[0].v, 0.0}, b{tri[1].u, tri[1].v, 0.0}, c{tri[2].u, tri[2].v, 0.0};
  const vect3 p{x, y, 0.0};
  // The line through b and c seen as a plane standing on the xy plane.
  const vect3 m = vect3Normalize(perpXY(c - b));
  const vect3 d = vect3Normalize(p - a);
  vect3 h;
  if (!linePlaneHit(h, d, a, m, c)) return false;
  s = float(vect3Length(p - a) / double(nonZeroFloat(float(vect3Length(h - a)))));
  t = float(vect3Length(h - b) / double(nonZeroFloat(float(vect3Length(c - b)))));
  return true;
}


bool faceZGreater(const objFace& a, const objFace& b) { return a.positions[0].z > b.positions[0].z; }

std::vector<std::int32_t> faceListOrder(const ObjModel& model) {
  std::vector<std::int32_t> order(model.faces.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = std::int32_t(order.size() - 1 - i);
  return order;
}

void sortFaceList(std::vector<std::int32_t>& order, const std::vector<objFace>& faces,
                  const std::function<bool(const objFace&, const objFace&)>& greater) {
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    return greater(faces[std::size_t(b)], faces[std::size_t(a)]);
  });
}

void sortFaceListByKey(std::vector<std::int32_t>& order, const std::vector<double>& keys, bool ascending) {
  if (ascending)
    std::stable_sort(order.begin(), order.end(),
                     [&](std::int32_t a, std::int32_t b) { return keys[std::size_t(a)] < keys[std::size_t(b)]; });
  else
    std::stable_sort(order.begin(), order.end(),
                     [&](std::int32_t a, std::int32_t b) { return keys[std::size_t(a)] > keys[std::size_t(b)]; });
}

std::int64_t truncCoord(float v) {
  constexpr float kLimit = 1e12f;
  if (!(v > -kLimit)) return v != v ? 0 : -std::int64_t(kLimit);
  if (v > kLimit) return std::int64_t(kLimit);
  return std::int64_t(v);
}

namespace {

// The next blank-separated word; runs of blanks give no empty words.
std::string_view nextWord(std::string_view& rest) {
  std::size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  std::size_t j = i;
  while (j < rest.size() && rest[j] != ' ' && rest[j] != '\t') ++j;
  const std::string_view word = rest.substr(i, j - i);
  rest.remove_prefix(j);
  return word;
}

}  // namespace

bool rewritePlanarObj(HostCore& core, const std::string& input, const std::string& output, const std::string& base,
                      double minx, double miny, double span, bool objLines) {
  if (!objLines) {
    TextOutFile out(core, output);
    if (!out.open()) return false;
    out.print("# Nortavo\nmtllib %s.mtl\ng object_1\nusemtl %s\n", base, base);
    return out.commit();
  }
  std::FILE* in = std::fopen(nativePath(expandCurrentDir(input)).c_str(), "rb");
  if (!in) {
    core.memoPrintf("no file %s", input);
    return false;
  }
  TextOutFile out(core, output);
  if (!out.open()) {
    std::fclose(in);
    return false;
  }
  out.print("# Nortavo\nmtllib %s.mtl\ng object_1\nusemtl %s\n", base, base);
  LineReader lines(in);
  std::string_view line;
  std::string face;
  char number[64];
  bool ok = true;
  auto refuse = [&](std::string_view word) {
    core.memoPrintf("%s line %d: '%s' is not a number; %s not written", input, lines.lineNumber(), std::string(word), output);
    ok = false;
  };
  if (span == 0.0) span = 1e-8;
  while (ok && lines.next(line)) {
    if (line.starts_with("v ")) {
      std::string_view rest = line.substr(2);
      double xy[2];
      for (double& value : xy) {
        const std::string_view word = nextWord(rest);
        if (!parseNumber(word, value)) {
          refuse(word);
          break;
        }
      }
      if (!ok) break;
      out.put(line);
      out.put("\n");
      const int n = std::snprintf(number, sizeof number, "vt %9.7f %9.7f\n", (xy[0] - minx) / span,
                                  (xy[1] - miny) / span);
      out.put(std::string_view(number, std::size_t(n)));
    } else if (line.starts_with("f ")) {
      std::string_view rest = line.substr(2);
      face.assign("f ");
      for (std::string_view word = nextWord(rest); !word.empty(); word = nextWord(rest)) {
        const std::string_view index = word.substr(0, word.find('/'));
        int i = 0;
        const auto [end, ec] = std::from_chars(index.data(), index.data() + index.size(), i);
        if (ec != std::errc() || end != index.data() + index.size()) {
          refuse(index);
          break;
        }
        const auto [e1, ec1] = std::to_chars(number, number + sizeof number, i);
        const std::string_view digits(number, std::size_t(e1 - number));
        face.append(digits).append("/").append(digits).append(" ");
      }
      if (!ok) break;
      if (face.back() == ' ' && face.size() > 2) face.pop_back();
      face.append("\n");
      out.put(face);
    }
  }
  const bool readError = std::ferror(in) != 0;
  std::fclose(in);
  if (ok && lines.failed()) {
    core.memoPrintf("%s line %d: %s; %s not written", input, lines.lineNumber(), lines.failure(), output);
    ok = false;
  } else if (readError) {
    core.memoPrintf("cannot read from file: %s", input);
    ok = false;
  }
  if (!ok) return false;
  return out.commit();
}

bool writeTextureMtl(HostCore& core, const std::string& path, const std::string& base, const std::string& ext) {
  TextOutFile mtl(core, path);
  if (!mtl.open()) return false;
  mtl.print("# Nortavo\nnewmtl %s\nKa 0 0 0\nKd 1.0 1.0 1.0\n", base);
  mtl.print("Ks 1.0 1.0 1.0\nTf 0.0 0.0 0.0\nd 1.0\nNs 0\nmap_Kd %s.%s\n", base, ext);
  return mtl.commit();
}

bool savePictureFile(HostCore& core, const QImage& picture, const std::string& path, bool bmp) {
  const std::string target = nativePath(expandCurrentDir(path));
  bool ok = false;
  if (bmp) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    std::string why;
    ok = buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "BMP") &&
         plat::writeFileAtomically(target, std::string_view(bytes.constData(), std::size_t(bytes.size())), why);
  } else {
    ok = writeJpegFile(picture, target);
  }
  if (!ok) {
    core.memoPrintf("unable to write to file: %s", path);
  }
  return ok;
}

bool outputNamesInput(HostCore& core, const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
  for (const std::string& out : outputs)
    for (const std::string& in : inputs) {
      if (in.empty()) continue;
      if (nativePath(out) == nativePath(in) || sameFile(out, in)) {
        core.memoPrintf("%s would overwrite the input %s: nothing written", out, in);
        return true;
      }
    }
  return false;
}

}  // namespace ph
