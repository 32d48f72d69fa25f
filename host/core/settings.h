#pragma once
// The settings of prismhost: one member per registered setting, named as in
// settings files, holding its default at program load. Members are declared
// in registration order (a test relies on it to catch crossed bindings).
// The four menu-item settings live on their menu items, not here.
#include <array>
#include <string>

namespace ph {

struct Settings {
  // Registered by start-up before the first settings read.
  std::string CommPortMarlin = "\\\\.\\COM30";
  int MarlinBaudrate = 250000;
  std::string settingsFile = "prismhost.i3d";  // registered as "inifile"

  // slicing
  int shiftLayer = 0;
  bool skipwater = false;
  bool bridgelayers = true;
  bool allowglasscode = false;
  int defaultcolor = 25368;
  // margins
  std::string LayerGcodes;
  int buildRoomLength = 0;
  std::string preInkGcodes;
  std::string liftPrepGcodes;
  int skipstretches = 0;
  int haltingLayer = 99999;
  // files
  int dualbox = 0;
  bool openMarlinAtStart = false;
  std::string depleteFile;
  std::string file_name = "default";
  std::string file_folder = "%currentdir%";
  bool IniAutoSave = false;
  bool localXonXoff = false;
  // powder
  int containerEndLimits = 0;
  int powderSkipLayers = 0;
  int layerMorePowder = 15;
  int nopowderstretches = 1;
  int powderdelay = 600;
  int powdertime = 500;
  int maxpowdertime = 0;
  int adpowderfirst = 300;
  int addpowderlast = 0;
  int powderPercentage = 40;
  int powderadvance = 0;
  bool powderReduce = false;
  bool spoonPowder = false;
  int powderDY = 12;
  // slicing
  int layerMicrons = 250;
  int jumpmicrons = 250;
  bool allwaysjump = false;
  // fdm
  int halfSpeedBytes = 999999;
  int printspeed = 8000;
  int movespeed = 8000;
  int gcode_ok = -1;
  std::string startgcodes = "M110/M201 X1000 Y1000/M202 X1000 Y1000/G92 Z0/M202 X1000 Y1000/G28 X0 Y0";
  double zService = 30.0;
  double zmarlinMax = 190.0;
  bool reversdir = false;
  // margins
  int rightsidemargin = 0;
  int behindmargin = 64;
  int prepstretches = 3;
  int preplayers = 3;
  int stretchcut = 50;
  int startinglayer = 0;
  int addedStretch = 0;
  int moveBackAlign = 1377;
  int bidiadjust = -12;
  int rollSplit = 0;
  // inkjet
  int repeatpurge = 2;
  bool XonXoffMode = true;
  // various
  int hazeRemove = 0;
  std::string goodbyecode = "G0 X133 Y88/G28 Z0/G0 X133 Y78/G4 P6000/G0 X133 Y220";
  bool pauseEachLayer = false;
  bool wetWhileMoved = false;
  bool onCakeMode = false;
  bool ButtonHints = true;
  int camsyncer = -1;
  std::string userfuncts = "to left;>G0 X10/to right;>G0 X133/1 sec shake;1000p";
  int maxstretchlen = 0;
  int primeCheckLayer = 0;
  int maxWaterPrimejump = 25;
  int maxColorPrimeJump = 6;
  int wPrimePulse = 1000;
  int band64 = 64;
  int waterPulseOption = 0;
  // hidden
  bool acceptM18Z = true;
  std::array<int, 4> FormPosition{0, 0, 0, 0};
  std::string dropItems;
  int printpages = 3;
  std::string formCaption;
  int br32 = 32;
  int dataGraceTime = 0;
  int plateTime = 0;
  int plateXmove = 40;
  int plateDownMove = 5;
  int plateParkMove = 30;
  int plateDownSpeed = 100;
  // files
  bool blackPrint = false;
  // fdm
  double xMarlinBase = 133.0;
  double xPrime = -1.0;
  double yvLow = 80.0;
  double yvHi = 220.0;
  double MarlinMaxZ = 180.0;
  std::array<int, 6> transformxy{0, 0, 1, 0, 0, 1};
  // hidden
  std::array<int, 10> kcmyoff{44, 44, 0, 0, 361, 368, 390, 397, 419, 426};
  // inkjet
  int alignJump = 640;
  int dropletsize = 1;
  int dropgrens = 276;
  int stretchSizeLim = 26000;
  int CartridgeDist = 0;
  int repeatstretch = 1;
  bool bidirectional = false;
  std::string CommInkDevice = "COM2";
  std::string InkjetIni = "13o";
  std::string repeatcode;
  std::string EachLayCode = "8t";
  // fdm
  double zlevelhome = 31.5;
  double yInspect = 72.0;
  // inkjet
  int heatlevelc = 81;
  int heatlevelbw = 91;
  int temprWater = 51;
  int temprColor = 41;
  // (hidden: the four menu-item settings)
  // slicing
  int waterpixel = 64;
  int sumpixel = 64;
  int colorweight = 50;
  int primgrens = 6;
  // powder
  int rollerspeed = 17;
  int shakerspeed = 20;
  int sprinklesplit = 0;
  // various
  bool shortcutstretch = false;
  bool silentmemo = true;
  int dryingtemperature = 0;
  // powder
  int hopperlim = 0;
  int nohopperlim = 0;
  // slicing
  int endskippers = 3;
  int skinmicrons = 1000;
  // files
  bool queryIniSave = false;
  bool stlnameIsObjname = false;
  // The slicer ships beside prismhost; the viewer is looked up on PATH.
  std::string slicer_exe = "%currentdir%/layertint";
  std::string viewer3d_exe = "meshlab";
};

}  // namespace ph
