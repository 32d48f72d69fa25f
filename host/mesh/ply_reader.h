#pragma once
// The PLY reader: ASCII and binary (little- and big-endian) polygon files
// with vertex or face colours, read into the mesh tools' model so that the
// STL writer makes coloured facets of them.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/mesh/mesh_state.h"

namespace ph {

// What a PLY file holds, as its header declares it.
enum class PlyType { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };
struct PlyProperty {
  std::string name;
  PlyType type = PlyType::Float32;
  bool list = false;
  PlyType countType = PlyType::UInt8;  // of a list
};
struct PlyElement {
  std::string name;
  std::int64_t count = 0;
  std::vector<PlyProperty> properties;
};
enum class PlyFormat { Ascii, BinaryLittleEndian, BinaryBigEndian };

// Faces made of polygons with more corners than this are refused.
constexpr std::int64_t kPlyMaxCorners = 65535;

class PlyReader {
 public:
  explicit PlyReader(MeshState& state) : st_(state) {}

  // Reads the file into the (empty) model: every polygon fanned around its
  // first corner into triangles whose colour is the face's own or the mean
  // of its corners' colours (no colour when the file has none). Coordinates are
  // multiplied by the state's scale, which is then back to 1. False, told
  // with the file name, when the file cannot be read whole: an unknown
  // format or property type, a vertex index out of range, a number that is
  // not one, a file that ends early, meshAbort.
  bool loadPly(const std::string& path);

  // The header as read by the last load.
  PlyFormat format() const { return format_; }
  const std::vector<PlyElement>& elements() const { return elements_; }

 private:
  bool readHeader();
  bool headerLine(std::string& line);
  bool readElement(const PlyElement& e);
  bool readValue(PlyType type, double& value);
  bool readBytes(unsigned char* out, std::size_t n);
  bool asciiToken(std::string& token);
  int getByte();
  bool refuse(const std::string& why);

  MeshState& st_;
  std::string name_;
  std::FILE* file_ = nullptr;
  std::vector<unsigned char> buf_;
  std::size_t bufPos_ = 0, bufEnd_ = 0;
  int line_ = 0;  // of the header, or of the body of an ASCII file
  PlyFormat format_ = PlyFormat::Ascii;
  std::vector<PlyElement> elements_;
  bool haveVertices_ = false;
  bool anyColour_ = false;
  std::int64_t faceCount_ = 0;
  bool textureTold_ = false;
};

}  // namespace ph
