#pragma once
// The OBJ reader with its MTL material library and texture pictures, the
// pre-scan that sizes the arrays, and the release of the model.
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QImage>

#include "host/mesh/mesh_state.h"
#include "host/mesh/mesh_text.h"

namespace ph {

class ObjReader {
 public:
  explicit ObjReader(MeshState& state) : st_(state) {}

  // Reads the open file to its end into the (empty) model. False when the
  // load stopped early: a line it cannot use (told with the file name and
  // line number), the vertex limit, a failed allocation or meshAbort.
  // `name` is the file's name for the messages.
  bool loadObj(std::FILE* file, const std::string& name);
  // Counts vertices and texture coordinates, sizes the arrays for them and
  // rewinds the file.
  void objPrescan(std::FILE* file);
  // Reads an MTL file of the working folder into the material list. False
  // only for a line that stops the load (a malformed number).
  bool loadMtl(const std::string& name);
  // The listed material of that exact name (the first defined); "material
  // not found: %s" and greymatter when none has it.
  std::int32_t findMaterial(const std::string& name);
  // Releases the whole model; with saveTextures the lit working copies are
  // saved first as the texture's core name + "_a.jpg".
  void freeObj();

 private:
  struct Group {
    std::int32_t v = 0, vt = 0;
  };
  // The next line of the file being read; false at its end or when it
  // cannot be read (told, readFailed_ set).
  bool readLine(std::string& line);
  bool vertexLine(std::string_view args);
  bool texCoordLine(std::string_view args);
  bool faceLine(std::string_view args);
  bool parseGroup(std::string_view word, Group& g);
  void addTriangle(const Group& a, const Group& b, const Group& c, char tag);
  void texture(objMaterial& m, const std::string& name, const std::vector<std::string>& options);
  void progress(long position);
  // "%s line %d: %s" for the file being read; stops the load.
  bool refuse(const std::string& what);

  MeshState& st_;
  std::string fileName_;
  std::FILE* file_ = nullptr;
  int lineNumber_ = 0;
  std::string_view lineText_;  // the line being read
  long fileSize_ = 0;
  std::int32_t currentMaterial_ = ObjModel::kDefaultMaterial;
  std::int32_t nextVertexMark_ = 1;
  LineReader* lines_ = nullptr;
  bool readFailed_ = false;
  // Per load: duplicate material names said, MTL libraries read (and the
  // repeats said), pictures decoded by path.
  std::unordered_set<std::string> toldDuplicates_;
  std::unordered_set<std::string> mtlLibraries_, toldLibraries_;
  std::unordered_map<std::string, QImage> pictures_;
  const char* growing_ = "allobjv";
};

}  // namespace ph
