#include "host/mesh/mesh_tools.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/core/value_dialogs.h"
#include "host/mesh/cocoon.h"
#include "host/mesh/mesh_text.h"

namespace ph {

namespace {

// A value given in double quotes loses them; a quote inside a name is part
// of the name.
std::string withoutQuotes(std::string text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
  return text;
}

// The folder of a path without its trailing separator.
std::string folderOf(const std::string& path) {
  std::string folder = pathFolderOrCurrent(path);
  while (folder.size() > 1 && isPathSep(folder.back())) folder.pop_back();
  return folder;
}

}  // namespace

MeshTools::MeshTools(HostCore& c, MeshHost& h) : core(c), host(h) {
  writer.noColour = [this] { return host.processWithoutColor(); };
  Im1.fill(Qt::white);
  createControls();
  stl.attachMenus(controls);
  voxel.attachMenus(controls);
  objReduce.attachMenus(controls);
}

std::string MeshTools::workFolder() const {
  std::string folder = expandCurrentDir(core.s.file_folder);
  while (folder.size() > 1 && isPathSep(folder.back())) folder.pop_back();
  return folder;
}


// ---- the command interpreter ----

void MeshTools::meshCommand(const std::vector<std::string>& words) {
  state.scale = 1.0f;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w.compare(0, 2, "-D") == 0) core.s.file_folder = withoutQuotes(w.substr(2));
    else if (w == "-P") cocoonTapered = true;
  }
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "-X") {
      bakeLights();
    } else if (w.compare(0, 2, "-S") == 0) {
      double v = 0.0;
      state.scale = parseNumber(trimView(w.substr(2, 99)), v) ? float(v) : 0.0f;
    } else if (w.compare(0, 2, "-F") == 0) {
      stlInputName = withoutQuotes(w.substr(2));
      wrapStlInput();
    } else if (w.compare(0, 2, "-N") == 0) {
      params.noSubdivision = true;
    } else if (w.compare(0, 2, "-O") == 0) {
      skipDialogs = true;
      objName = withoutQuotes(w.substr(2));
      core.memoPrintf("objname %s", objName);
      convertObjFile();
      params.noSubdivision = false;
    }
  }
}

// ---- the conversion road ----

bool MeshTools::convertObjFile() {
  skipDialogs = true;
  showProgress(core, 3);
  state.meshAbort = false;
  ObjModel& m = state.model;
  m.faces.clear();
  m.materials.clear();
  if (m.idxv == 1) {
    lights.lights[0].direction = {0.0, 0.0, -1.0};
    lights.lights[1].direction = {0.0, 1.0, 0.0};
    lights.lights[0].packed = 0xFFFFFF;
    lights.lights[1].packed = 0;
    lights.lights[2].packed = 0;
    m.idxv = 1;
    m.nextTexCoord = 1;
  }
  for (Light& l : lights.lights) {
    if (l.brightlevel <= 0) break;
    l.colour = {double(l.packed & 0xFF), double(l.packed >> 8 & 0xFF), double(l.packed >> 16 & 0xFF)};
  }
  state.workingFolder = folderOf(objName);
  // The STL of an earlier model is gone whatever happens next.
  const std::string target = workFolder() + "/" + host.convertedStlName();
  std::remove(nativePath(target).c_str());
  std::string why;
  FilePtr in = openRegularFile(objName, why);
  if (!in) {
    if (why == std::strerror(ENOENT)) core.memoPrintf("no file %s", objName);
    else core.memoPrintf("cannot read from file: %s (%s)", objName, why);
    core.ui.showProgress(0);
    return false;
  }
  const std::string kind = extensionOf(objName);
  bool ok = false;
  if (kind == "ply") {
    in.reset();
    ok = plyReader.loadPly(objName);
  } else if (kind == "3mf" || kind == "model") {
    in.reset();
    ok = threeMfReader.read(objName) && threeMfReader.loadBuild();
  } else {
    if (state.options.SizerPass) reader.objPrescan(in.get());
    ok = !state.meshAbort && reader.loadObj(in.get(), objName);
  }
  in.reset();
  state.scale = 1.0f;
  if (ok) ok = writer.objToStl(target);
  if (ok && state.facetsWritten == 0) {
    // Nothing to slice is no conversion.
    core.memoPrintf("%s holds no faces", objName);
    ok = false;
  }
  if (ok) {
    core.memoPrintf("converted to stl with %d faces", state.facetsWritten);
  } else {
    // Half a model must never reach the slicer.
    std::remove(nativePath(target).c_str());
    core.memoPrintf("%s not converted: %s not written", objName, target);
  }
  core.memoPrintf("idxv = %d", state.model.idxv);
  reader.freeObj();
  core.ui.showProgress(0);
  return ok;
}

bool MeshTools::runObjFile(const std::string& name) {
  objName = name;
  const bool ok = convertObjFile();
  core.ui.showProgress(0);
  return ok;
}

void MeshTools::bakeLights() {
  const std::string lightsFile = workFolder() + "/lights.obj";
  std::string why;
  FilePtr in = openRegularFile(lightsFile, why);
  if (!in) {
    if (why == std::strerror(ENOENT)) core.memoPrintf("no file %s", lightsFile);
    else core.memoPrintf("cannot read from file: %s (%s)", lightsFile, why);
    return;
  }
  state.workingFolder = workFolder();
  const bool loaded = reader.loadObj(in.get(), lightsFile);
  in.reset();
  if (!loaded) {
    reader.freeObj();
    return;
  }
  lights.alwaysFacing = 0;
  lights.lights[0].brightlevel = 0;
  lights.lights[1].brightlevel = 0;
  std::set<std::string> seen;
  int next = 0;
  const ObjModel& m = state.model;
  for (auto it = m.faces.rbegin(); it != m.faces.rend(); ++it) {
    const objMaterial& mat = m.materialOf(*it);
    if (!seen.insert(mat.name).second) continue;
    if (next >= LightTable::kLights) {
      core.memoPrintf("%s: more than %d materials; the rest make no light", lightsFile, LightTable::kLights);
      break;
    }
    core.memoPrintf("%s %s", mat.name, vect3Text(it->positions[0]));
    Light& l = lights.lights[std::size_t(next)];
    l.direction = vect3Normalize(it->positions[0]);
    l.brightlevel = 100;
    if (mat.dissolve < 0.5f) lights.alwaysFacing |= 1 << next;
    l.packed = mat.Kd;
    ++next;
  }
  reader.freeObj();
  objName = workFolder() + "/hfd7.obj";
  params.mintexturearea = 10000;
  state.saveTextures = true;
  skipDialogs = true;
  convertObjFile();
}

// ---- PLY and 3MF ----

bool MeshTools::plyToStl(const std::string& ply, const std::string& stl) {
  state.meshAbort = false;
  reader.freeObj();
  bool ok = plyReader.loadPly(ply) && writer.objToStl(stl);
  if (ok) {
    core.memoPrintf("created %s", stl);
  } else {
    std::remove(nativePath(stl).c_str());
    core.memoPrintf("%s not converted: %s not written", ply, stl);
  }
  reader.freeObj();
  return ok;
}

void MeshTools::convertTempPly() { plyToStl(workFolder() + "/temp.ply", workFolder() + "/fromply.stl"); }

void MeshTools::confirmAndConvertTempPly() {
  const std::string folder = workFolder();
  if (core.notConfirmed(plat::format("convert %s/temp.ply to %s/fromply.stl", folder, folder))) return;
  convertTempPly();
}

void MeshTools::askAndRead3mf() {
  const auto answer = core.ui.inputBox("input", "input_model_file", modelFile3mf);
  if (!answer) return;
  modelFile3mf = *answer;
  read3mfModel(modelFile3mf);
}

bool MeshTools::read3mfModel(const std::string& file) {
  state.meshAbort = false;
  reader.freeObj();
  if (!threeMfReader.read(file)) return false;
  int number = 1;
  for (std::size_t index : threeMfReader.meshObjects()) {
    const std::string stl = workFolder() + "/" + plat::format("from3mf%d.stl", number++);
    core.memoPrintf("saving %s", stl);
    const bool ok = threeMfReader.loadMeshObject(index) && writer.objToStl(stl);
    reader.freeObj();
    if (!ok) {
      std::remove(nativePath(stl).c_str());
      core.memoPrintf("%s not written", stl);
      return false;
    }
  }
  core.memoPrintf("done");
  return true;
}

// ---- STL to OBJ ----

bool MeshTools::convertStlToObj() {
  StlToObjSettings& set = stl2objSettings;
  set.singlegroup = 1;
  set.brightness = 0;
  set.quadrantgroups = 0;
  stlInputName = workFolder() + "/" + host.convertedStlName();
  if (!skipDialogs) {
    // Cancel keeps a value; a number that is not one ends the tool.
    auto askText = [&](const char* prompt, std::string& value) {
      if (auto a = core.ui.inputBox("input", prompt, value)) value = *a;
    };
    auto askInt = [&](const char* prompt, int& value) {
      const std::string shown = std::to_string(value);
      const std::string answer = trimmed(core.ui.inputBox("input", prompt, shown).value_or(shown));
      if (!isNumberText(answer)) {
        core.memoPrintf("%s: '%s' is not a whole number", prompt, answer);
        return false;
      }
      value = textToInt(answer);
      return true;
    };
    askText("fname", stlInputName);
    askText("destname", set.destname);
    askText("MaterialStr", set.MaterialStr);
    if (!askInt("singlegroup", set.singlegroup) || !askInt("brightness", set.brightness) ||
        !askInt("spectrumcolors", set.spectrumcolors) || !askInt("quadrantgroups", set.quadrantgroups) ||
        !askInt("withVertCol", set.withVertCol))
      return false;
  }
  if (set.quadrantgroups != 0) set.singlegroup = 0;
  if (set.withVertCol != 0) set.spectrumcolors = 0;
  return stl2obj.convert(stlInputName, workFolder(), set);
}

bool MeshTools::depthImageToObj(const std::string& picture, int textureshift) {
  const std::string folder = parentDir(picture);
  stlInputName = folder + "/frombmp.stl";
  stl2objSettings.destname = fileCore(picture);
  core.s.file_folder = folder;
  const DepthImageRun run{picture, textureshift};
  return stl2obj.convert(stlInputName, workFolder(), stl2objSettings, &run);
}

// ---- parameter dialogs ----

void MeshTools::askObjToStlParameters() {
  auto askInt = [&](const char* name, int current, int& out) {
    const std::string answer = trimmed(core.ui.inputBox("input", name, std::to_string(current)).value_or(std::to_string(current)));
    if (!isNumberText(answer)) {
      core.memoPrintf("%s: '%s' is not a whole number", name, answer);
      return false;
    }
    out = textToInt(answer);
    return true;
  };
  int v = 0;
  if (!askInt("mintexturearea", params.mintexturearea, v)) return;
  params.mintexturearea = v;
  if (!askInt("colmaxdist", int(std::sqrt(double(params.colmaxdist))), v)) return;
  const std::int64_t square = std::int64_t(v) * v;
  params.colmaxdist = int(square > INT32_MAX ? INT32_MAX : square);
  const std::string shown = plat::format("%g", double(params.minfacearea));
  const std::string answer = core.ui.inputBox("input", "minfacearea", shown).value_or(shown);
  double area = 0.0;
  if (!parseNumber(trimView(answer), area)) {
    core.memoPrintf("%s: '%s' is not a number", "minfacearea", answer);
    return;
  }
  params.minfacearea = float(area);
  if (!askInt("brightenVtxColors", state.options.brightenVtxColors, v)) return;
  state.options.brightenVtxColors = v;
  askToggle(state.options.SizerPass, "SizerPass");
  askToggle(state.options.ignoreTexture, "ignoreTexture");
  askToggle(state.options.ignoreVtxColors, "ignoreVtxColors");
  askToggle(state.options.obj_file_is_Inside_Out, "obj_file_is_Inside_Out");
}

void MeshTools::askCocoonScale() {
  const std::string shown = std::to_string(int(100.0f * cocoonScale));
  const std::string answer = trimmed(core.ui.inputBox("input", "scale_percentage", shown).value_or(shown));
  if (!isNumberText(answer)) {
    core.memoPrintf("%s: '%s' is not a whole number", "scale_percentage", answer);
    return;
  }
  cocoonScale = float(textToInt(answer)) / 100.0f;
}

void MeshTools::askCocoonRotation() {
  struct {
    const char* prompt;
    float* angle;
  } boxes[] = {{"xrotate", &cocoonRotX}, {"yrotate", &cocoonRotY}, {"zrotate", &cocoonRotZ}};
  for (auto& b : boxes) {
    const std::string shown = plat::format("%g", double(*b.angle));
    const std::string answer = core.ui.inputBox("input", b.prompt, shown).value_or(shown);
    double v = 0.0;
    if (!parseNumber(trimView(answer), v)) {
      core.memoPrintf("%s: '%s' is not a number", b.prompt, answer);
      return;
    }
    *b.angle = float(v);
  }
}

void MeshTools::openAndWrapStl() {
  FileDialogRequest dialog;
  dialog.title = "Open";
  dialog.filter = "stl file|*.stl";
  dialog.defaultExt = "stl";
  const auto chosen = core.ui.openFileDialog(dialog);
  if (!chosen || chosen->empty()) return;
  stlInputName = *chosen;
  wrapStlInput();
}

// ---- prompts ----

void MeshTools::askToggle(bool& flag, const std::string& name) {
  while (core.ui.askChoice("Confirm", name + " = " + (flag ? "Yes" : "No"), {"OK", "Change"}) == 1) flag = !flag;
}

std::string MeshTools::askInputFile(const std::string& prompt, const std::string& defaultName) {
  FileDialogRequest dialog;
  const std::string ext = extensionOf(defaultName);
  dialog.fileName = defaultName;
  dialog.folder = parentDir(defaultName);
  dialog.filter = prompt + " = " + ext + " - file|*." + ext;
  dialog.title = prompt + " (was " + defaultName + ")";
  const auto chosen = core.ui.openFileDialog(dialog);
  if (!chosen) {
    state.meshAbort = true;
    return defaultName;
  }
  return *chosen;
}

std::string MeshTools::askOutputFile(const std::string& prompt, const std::string& defaultName) {
  FileDialogRequest dialog;
  const std::string ext = extensionOf(defaultName);
  dialog.fileName = defaultName;
  dialog.filter = prompt + "(" + ext + ")|*." + ext;
  const auto chosen = core.ui.saveFileDialog(dialog);
  if (!chosen) {
    state.meshAbort = true;
    return defaultName;
  }
  return *chosen;
}

// ---- the window's life ----

void MeshTools::prepareWindow() {
  controls.at("Button2").setVisible(false);
  stlInputName = workFolder() + "/" + host.convertedStlName();
  takeProgramFolder();
}

void MeshTools::takeProgramFolder() { programFolder = core.progDir; }

bool MeshTools::appendLogAtClose() {
  core.logStamped("close meshkit");
  const std::string logName = programFolder + "meshkit.log";
  if (!fileExists(logName)) return true;
  FilePtr f = core.openFile(logName, "ab").file;
  if (!f) return true;
  const std::string text = Memo1.text();
  const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  if (std::fclose(f.release()) != 0 || !written) core.memoPrintf("unable to write to file: %s", logName);
  return true;
}

// ---- the host's menu entries ----

void MeshTools::showMeshWindow() {
  if (showWindow) showWindow();
  else core.memoPrintf("the mesh-tools window is not shown in this program");
}

void MeshTools::showMeshWindowWithItsLog() {
  core.logInto(Memo1, [this] { showMeshWindow(); });
}

void MeshTools::askRecalculateNormals() { core.notConfirmed("recalculate normals in " + host.jobFileName()); }

// ---- the window's buttons and menu ----

void MeshTools::createControls() {
  using K = Control::Kind;
  auto button = [&](const char* name, const char* caption, std::function<void()> f) {
    controls.add(K::Button, name, caption).onClick = std::move(f);
  };
  button("Button1", "Cocoon", [this] { wrapStlInput(); });
  // The ring capture is the frame grabber's (the scan tools bind it).
  button("Button2", "ringcapture", nullptr);
  button("Button3", "obj file", [this] { convertObjFile(); });
  button("Button4", "abort", [this] { abortMeshTools(); });

  auto menu = [&](const char* name, const char* caption) { controls.add(K::Menu, name, caption); };
  // An item without a handler here is bound by the tool it belongs to (the
  // STL, voxel and reduction tools here, the scan tools from outside).
  auto item = [&](const char* parent, const char* name, const char* caption, std::function<void()> f = nullptr) {
    controls.add(K::MenuItem, name, caption, parent).onClick = std::move(f);
  };
  // Items of the menu bar itself stand in a menu of their own name.
  menu("File1", "File");
  item("File1", "File1Item", "File", [this] { openAndWrapStl(); });
  menu("stl2obj1", "stl2obj");
  item("stl2obj1", "stl2obj1Item", "stl2obj", [this] { convertStlToObj(); });
  for (auto [name, caption] : {std::pair{"mirelsingle1", "obj_single"}, {"onematerial1", "onematerial"}}) {
    menu(name, caption);
    item(name, (std::string(name) + "Item").c_str(), caption);
  }
  menu("ply2stl1", "ply2stl");
  item("ply2stl1", "ply2stl1Item", "ply2stl", [this] { convertTempPly(); });
  menu("functs1", "functs");
  item("functs1", "setscale1", "set scale", [this] { askCocoonScale(); });
  for (auto [name, caption] :
       {std::pair{"scan1", "scan"}, {"loadini1", "loadini"}, {"test1", "test"}, {"dll1", "dll"}, {"sort1", "sort"},
        {"filmsplit1", "filmsplit"}, {"exectest1", "exectest"}, {"triasplit1", "triasplit"},
        {"bobbelhead1", "bobbelhead"}, {"heightprofile1", "heightprofile"}, {"angvsbright1", "angvsbright"},
        {"zsplit1", "zsplit"}, {"headtture1", "head_tture"}})
    item("functs1", name, caption);
  // A check mark that toggles when clicked (the window does that) and that
  // nothing reads.
  controls.add(K::MenuItem, "InsideOut1", "InsideOut", "functs1").checkable = true;
  for (auto [name, caption] :
       {std::pair{"stlVolume1", "stlVolume"}, {"manifold1", "manifold"}})
    item("functs1", name, caption);
  item("functs1", "N3mfconvert1", "3mfconvert", [this] { askAndRead3mf(); });
  menu("more1", "more");
  item("more1", "objreduce1", "objreduce");
  item("more1", "rotate1", "rotate", [this] { askCocoonRotation(); });
  item("more1", "lightmod1", "lightmod", [this] { bakeLights(); });
  item("more1", "texturePoints1", "texturePoints");
  item("more1", "txtuWRaster1", "txtuWRaster");
  item("more1", "obj2stlpars1", "obj2stl_pars", [this] { askObjToStlParameters(); });
  for (auto [name, caption] :
       {std::pair{"colordialog3", "colordialog"}, {"colormpy1", "colormpy"}, {"bmptodepth1", "bmptodepth"},
        {"stl2texture1", "stl2texture"}, {"faceTexture1", "faceTexture"}, {"VertexpToQ1", "VertexPToQ"},
        {"Vertice2Plane1", "Vertice2Plane"}, {"Weldobj1", "Weld_obj"}, {"matchclouds1", "matchclouds"},
        {"nearpoints1", "nearpoints"}, {"blendwheel1", "blendwheel"}, {"objUnWhite1", "objUnWhite"}})
    item("more1", name, caption);
  for (auto [name, caption] : {std::pair{"bolfilter1", "radiusfilter"}, {"mergestl1", "merge_stl"}, {"ev1", "ev"}}) {
    menu(name, caption);
    item(name, (std::string(name) + "Item").c_str(), caption);
  }
}

}  // namespace ph
