#pragma once
// ObjCloudTools: the OBJ vertex tools and the point-cloud tools, reached from
// the mesh-tools window. The fixed files of these developer tools ("p.txt",
// "q.txt", "pullplane.stl", "cloud0.obj", ...) lie in the mesh tools' work
// folder (the setting file_folder); a missing one is told and the tool ends.
#include <string>
#include <vector>

#include "host/core/controls.h"
#include "host/mesh/vect3.h"
#include "host/scantools/point_cloud.h"

namespace ph {

class HostCore;
class MeshTools;

class ObjCloudTools {
 public:
  ObjCloudTools(HostCore& core, MeshTools& mesh);
  ObjCloudTools(const ObjCloudTools&) = delete;
  ObjCloudTools& operator=(const ObjCloudTools&) = delete;

  // Binds this group's items of the mesh-tools window.
  void attachMenus(Controls& controls);

  // ---- OBJ vertex tools ----
  // "onematerial": "ikt.obj" to "temp.obj", every usemtl line becoming
  // "usemtl standaard".
  bool useOneMaterial();
  // "VertexPToQ": "temp.obj" to "temp2.obj", vertices on the points of
  // "p.txt" moved to the paired points of "q.txt".
  bool moveVerticesPToQ();
  // "Vertice2Plane": pullsource to "temp3.obj", vertices between the
  // facets of "pullplane.stl" and the point of "q.txt" moved onto them.
  bool pullVerticesToPlane();
  // "Weld_obj": pre_weld_file welded into outname ".obj", ".mtl", ".jpg".
  bool weldAskedObj();
  // The weld itself, on given names (the menu asks for them).
  bool weldObj(const std::string& input, const std::string& outCore);

  // ---- point-cloud tools ----
  // "matchclouds": one step of lining up "cloud2a.obj" with "cloud0.obj";
  // after the abort button, the moved cloud is written to "cloud3.obj".
  bool matchCloudsStep();
  // "nearpoints": the faces of "nearmodel.obj" within 0.02 of a point of
  // "nearpoints.txt" are left out of "nearwiped.obj".
  bool wipeNearFaces();
  // No item of the window calls it: the faces of "splitmodel.obj" in six
  // groups by the direction they face, into "cubed.obj".
  bool splitByDirection();

  // Kept for the program run.
  std::string pullsource;      // "" until first asked: "pullsource.obj" in the tool folder
  std::string pre_weld_file;   // "" until first used: "pre_weld.obj" in the tool folder
  std::string outname;         // "" until first used: "welded"
  PointCloud referenceCloud, movingCloud;
  bool cloudsLoaded = false;

 private:
  std::string toolFile(const std::string& name) const;
  // A file of points, three numbers separated by "," per line; a line of
  // three characters or fewer holds none (an empty optional). False (told)
  // for a missing file or a malformed number.
  struct PointLine {
    bool hasPoint = false;
    vect3 p;
  };
  bool readPoints(const std::string& name, std::vector<PointLine>& lines);
  bool loadModel(const std::string& name);

  HostCore& core_;
  MeshTools& mesh_;
};

}  // namespace ph
