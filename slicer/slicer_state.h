#pragma once
// The program's state: command line, fingerprint text, slicing values, the
// results of model preparation and the texts of the window's controls.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "slicer/slice_values.h"

namespace lt {

struct SlicerState {
  std::vector<std::string> args;  // the arguments after the program name
  std::string modelName;
  std::string workFolder;  // folder of "ngsetup.txt" and of work files
  std::string paramText;
  std::uint16_t paramCrc = 0xFFFF;
  int instanceNumber = 0;
  std::string outputName;  // -K
  bool commandLineJob = false;  // -F, or -V with an existing file
  bool batchJob = false;
  bool interactive = true;
  bool previewOnly = false;
  bool exportSlices = false;
  std::string colourCubeFile;  // -R

  SliceValues values;

  bool bmpMode = false;
  bool bmpLayerMode = false;
  double bmpScale = 3.0;
  double boxX = 0, boxY = 0, boxZ = 0;  // mm
  int boxXMicrons = 0, boxYMicrons = 0, boxZMicrons = 0;
  int copiesLimitX = 1, copiesLimitY = 1;
  bool prepared = false;

  std::string setupBlock1, setupBlock2;
  char stopKey = 0;  // 'H' stops the job
  bool abortFlag = false;
  bool jobRunning = false;

  // The raster encoder's marker row; -F and -V reset it.
  int markerRow = 0;
  bool markerReset = false;
  bool directOutput = false;  // "to file" unchecked

  // Texts and states of the window's controls.
  std::string layerbox = "0.25";  // mm
  // The thickness given with -L (mm), exactly: the box shows it rounded to
  // two decimals. Dropped when the operator edits the box.
  std::optional<double> layerMm;
  // The serial device a job goes to when "to file" is off.
  std::string printerPort = "/dev/ttyS37";
  std::string zstart = "0.00";
  std::string zend;
  std::string dcopies = "1";
  std::string rdlabel, progressLabel, layerLabel;
  bool overlap = true, mkfile = true, powdstart = true;
  bool prvbutVisible = false;
};

}  // namespace lt
