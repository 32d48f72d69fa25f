// The open-model road of the hand-off and the other ways a job gets opened:
// a ready-made .p3d, the program's first argument, the temperature test.
#include <unistd.h>

#include <cstdio>
#include <utility>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/core/value_dialogs.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/slicer_command.h"
#include "host/jobdata/slicer_handoff.h"

namespace ph {

namespace {

// File dialogs may move the current folder; the road puts it back.
struct KeepFolder {
  std::string dir = currentDir();
  ~KeepFolder() { restore(); }
  void restore() const {
    if (!dir.empty() && chdir(dir.c_str()) != 0) {
      // The folder went away meanwhile: stay where we are.
    }
  }
};

// The model's kind: the extension after the last "." of its name, so
// "head.v2.obj" is an OBJ model.
std::string modelKind(const std::string& path) {
  const std::string name = fileNamePart(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : lowerCase(name.substr(dot + 1));
}

}  // namespace

void SlicerHandoff::runMeshCommand(const std::vector<std::string>& words) {
  steps_.meshCommand(words);
}

void SlicerHandoff::askScaleRotation() {
  editFloatValues(core_, "Scale and Rotations", {&scale, &rotX, &rotY, &rotZ, &cocoon},
                  "scale,rotate around x axis,rotate around y axis,rotate around z axis,cocoon");
  if (Control* c = core_.controls.find("cocooned1")) c->setChecked(cocoon != 0.0f);
  core_.memoPrintf("S%3.2f RX%3.2f RY%3.2f RZ%3.2f", double(scale), double(rotX), double(rotY), double(rotZ));
}

void SlicerHandoff::applyModelTransform(bool objModel) {
  // The walls follow the "cocooned" check mark: the scale dialog sets it
  // from its cocoon field, and the operator may change it on the menu.
  const bool walls = checked("cocooned1");
  if (!checked("scaled1")) steps_.setCocoonTransform(1.0f, 0.0f, 0.0f, 0.0f, walls);
  // An OBJ model was already scaled by the converter.
  else steps_.setCocoonTransform(objModel ? 1.0f : scale, rotX, rotY, rotZ, walls);
}

std::string SlicerHandoff::cocoonStep(std::string path, bool objModel) {
  applyModelTransform(objModel);
  if (checked("NoColor1") &&
      core_.ui.askYesNo("Confirm", "process without color?"))
    processWithoutColor = true;
  if (checked("cocooned1") || checked("scaled1")) {
    core_.memoPrintf("converting %s to !cocooned.stl", path);
    const std::string wrapped = workPath("!cocooned.stl");
    if (fileExists(wrapped)) std::remove(nativePath(wrapped).c_str());
    runMeshCommand({kMeshTool, "", "-F" + path, "-D" + expandCurrentDir(core_.s.file_folder)});
    // The mesh tools run in this process and have closed the file when they
    // return, so no pause is needed before looking for it.
    path = fileExists(wrapped) ? wrapped : std::string();
  }
  return path;
}

bool SlicerHandoff::openModel() {
  // "prep view" asks for this one open only, whether it gets as far as
  // slicing or not (a cancelled dialog, a missing file).
  const bool prepareOnly = std::exchange(skipSlicing, false);
  Settings& s = core_.s;
  core_.clearAbort();
  job_.modelFits = true;
  job_.dmcCurrent = false;
  KeepFolder folder;

  std::string file = core_.commandInputFile;
  if (file.empty()) {
    FileDialogRequest dialog;
    dialog.title = "stl/obj";
    dialog.folder = expandCurrentDir(s.file_folder);
    dialog.fileName = modelDialogFile;
    dialog.filter = "stl, obj, ply and 3mf|*.stl;*.obj;*.ply;*.3mf|obj file|*.obj|stl files|*.stl|ply file|*.ply|"
                    "3mf file|*.3mf|bmp files|*.bmp";
    auto chosen = core_.ui.openFileDialog(dialog);
    if (!chosen || chosen->empty()) return false;
    file = *chosen;
  }
  folder.restore();
  processWithoutColor = false;
  if (Control* c = core_.controls.find("btViewstl")) c->setEnabled(true);
  if (checked("scaled1")) askScaleRotation();
  viewerstl.clear();

  if (!fileExists(expandCurrentDir(file))) {
    core_.memoPrintf("no such file %s", file);
    return false;
  }
  if (!job_.claimWorkFolder()) return false;
  // A new job: what the hand-off still does for the last one stops here,
  // before the job's names change.
  stopSlice("a new job was opened");
  job_.jobReady = true;
  // A profile belongs to the model it was made from.
  layout_.heightProfileMade = false;
  job_.jobFileName = file;
  core_.logStamped("open: " + file);
  s.file_name = fileCore(file);  // case kept: it names the job's files

  const std::string ext = modelKind(file);
  // PLY and 3MF models take the OBJ model's road through the mesh tools.
  const bool objModel = ext == "obj" || ext == "ply" || ext == "3mf";
  if (objModel) {
    if (s.stlnameIsObjname) convertedStlName = s.file_name + ".stl";
    core_.memoPrintf("converting %s to %s", file, convertedStlName);
    const std::string converted = workPath(convertedStlName);
    viewerstl = converted;
    // Made anew for every open: a file left by an earlier model must never
    // be sliced under this model's name.
    std::remove(nativePath(converted).c_str());
    if (fileExists(converted)) {
      tellOperator(plat::format("cannot replace %s: %s is not converted", converted, file));
      return false;
    }
    runMeshCommand({kMeshTool, plat::format("-S%g", double(scale)), "-O" + file, "-D" + expandCurrentDir(s.file_folder)});
    if (!fileExists(converted)) {
      tellOperator(plat::format("%s could not be converted to %s; it is not sliced", file, convertedStlName));
      return false;
    }
    file = converted;
  }
  if (core_.runMode == 'T' && !core_.commandInputFile.empty()) return true;  // OBJ to STL only
  if (ext == "bmp") {
    const std::string answer = core_.askText("input", "djpagrepeat", "1");
    layout_.djpagrepeat = isNumberText(answer) ? textToInt(answer) : 1;
  } else {
    layout_.djpagrepeat = 1;
  }
  if (modelKind(file) == "stl") file = cocoonStep(file, objModel);

  viewerstl = file;
  bool onItsWay = true;
  if (!prepareOnly) {
    if (s.powderReduce && !file.empty()) {
      if (steps_.makeHeightProfile(file)) layout_.heightProfileMade = true;
      else core_.memoPrintf("unable to make profile from %s", file);
    }
    core_.memoPrintf("converting %s to %s%s.p3d", file, core_.workDir, s.file_name);
    onItsWay = !file.empty() && runSlicer(file);
  }
  folder.restore();
  return onItsWay;
}

void SlicerHandoff::openP3dFile() {
  KeepFolder folder;
  FileDialogRequest dialog;
  dialog.title = "p3d file";
  dialog.folder = expandCurrentDir(core_.s.file_folder);
  dialog.filter = "p3d files|*.p3d";
  dialog.defaultExt = "p3d";
  auto chosen = core_.ui.openFileDialog(dialog);
  if (!chosen || chosen->empty()) return;
  stopSlice("a job was opened");
  if (!jobUsable(expandCurrentDir(*chosen))) {
    tellOperator(plat::format("%s is not a whole job (empty, or stopped or aborted while it was sliced): not converted",
                              *chosen));
    return;
  }
  job_.jobReady = true;
  layout_.heightProfile.fill(9999.0f);
  // No model, no profile: powder goes everywhere.
  layout_.heightProfileMade = false;
  job_.dmcCurrent = false;
  if (Control* c = core_.controls.find("btViewstl")) c->setEnabled(true);
  job_.jobFileName = *chosen;
  core_.s.file_name = fileCore(*chosen);
  core_.memoPrintf("file %s fn %s", *chosen, core_.s.file_name);
  if (runConversion().converted()) askModelFits("model does not fit in machine, Comtinue?");
}

void SlicerHandoff::openCommandLineFile() {
  if (programArgs.empty()) return;
  core_.nameCommandInputFile(programArgs[0]);
  openModel();
}

void SlicerHandoff::startTemperatureTest() {
  Settings& s = core_.s;
  job_.dmcCurrent = false;
  const std::string answer = core_.askText("input", "starting_temperature", "30");
  if (!isNumberText(answer)) {
    core_.memoPrintf("starting_temperature: not a whole number: %s", answer);
    return;
  }
  const int t = textToInt(answer);
  if (savedStartingLayer < -10) savedStartingLayer = s.startinglayer;
  s.startinglayer = clampInt(t - 30, 0, 52);
  temprTestActive = true;
  // The test model gets no profile; one of an earlier model must not steer it.
  layout_.heightProfileMade = false;
  const std::string model = workPath("temprtest.stl");
  s.file_name = fileCore(model);
  viewerstl = model;
  // A job left unfinished is sliced again, never converted.
  if (jobFingerprint(workPath(s.file_name + ".p3d")).empty()) {
    core_.memoPrintf("converting %s to %s%s.p3d", model, core_.workDir, s.file_name);
    // The ready event converts the job once the slicer has written it.
    runSlicer(model);
  } else {
    stopSlice("a job was opened");
    runConversion();
  }
  core_.unitCodes().queueUnitCode("28,15t");
}

}  // namespace ph
