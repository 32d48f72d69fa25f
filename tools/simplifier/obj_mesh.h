#pragma once
// The simplifier's side of an OBJ file: positions and triangles read from
// its "v" and "f" lines, and the reduced model written back.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace simp {

struct Mesh {
  std::vector<float> positions;   // x, y, z per vertex
  std::vector<unsigned> indices;  // three per triangle, from 0
};

// A word as a single-precision coordinate: an optional "+", then what
// std::from_chars reads as a double, finite within float's range (the
// double rounded to float).
bool readCoordinatePlain(std::string_view word, float& out);
// The same answer, with the common "-123.456" form converted directly
// (exact while the digits fit 2^53 and at most 22 places follow the point,
// so the one rounding division gives what from_chars gives); any other
// form goes through the plain reading.
bool readCoordinate(std::string_view word, float& out);

// Reads the "v" and "f" lines of a text (other lines are passed over);
// polygons are fanned around their first corner, and face numbers may be
// negative (counted back from the last vertex before the face's line).
// The text is read in parts side by side. False with `why` ("line N:
// ...", or a face naming a vertex that does not exist) otherwise.
bool parseObjText(std::string_view text, Mesh& mesh, std::string& why);
// The same from a file, read in parts side by side, each part in blocks;
// `why` names the file when it fails.
bool readObjFile(const std::string& name, Mesh& mesh, std::string& why);

// The vertices and triangles as "v x y z" and "f a b c" lines (%.9g, so
// each float reads back as itself), built side by side: the file's text is
// the pieces in order.
std::vector<std::string> objText(const std::vector<float>& positions, const std::vector<unsigned>& indices);

}  // namespace simp
