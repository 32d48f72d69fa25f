#include "host/core/param_table.h"

// Help texts are kept word for word, slips and trailing blanks included:
// they are what operators search for and what the hints show.

namespace ph {

void addSettingMenuItems(Controls& controls, const std::string& parent) {
  const struct {
    const char* name;
    const char* caption;
    bool checked;
  } items[] = {{"connectcheck1", "connect check", true},
               {"IgnoreHopper1", "ignore hopper", false},
               {"temprcontrol1", "temperature control", true},
               {"NoColor1", "no color", false}};
  for (const auto& i : items) {
    Control& c = controls.add(Control::Kind::MenuItem, i.name, i.caption, parent);
    c.checkable = true;
    c.checked = i.checked;
  }
}

void registerEarlyParams(ParamTable& t, Settings& s) {
  t.beginParamGroup("fdm");
  t.addpartxt("#CommPortMarlin", s.CommPortMarlin, "comm port for Marlin. Add '-' to skip port init");
  t.addparint("MarlinBaudrate", s.MarlinBaudrate, "baudrate 0=no port initialyzing");
  t.beginParamGroup("files");
  t.addpartxt("#inifile", s.settingsFile, "");
  t.beginParamGroup("various");
  // 0 leaves the port's line settings alone.
  t.setParamRange("MarlinBaudrate", 0, 4000000);
  t.setFixedWhilePrinting("CommPortMarlin");
  t.setFixedWhilePrinting("MarlinBaudrate");
}

namespace {
// What each number may hold, from what it means and where it is used. Every
// range holds the default and the values the program itself stores (the
// conversion, the scan, the alignment and the window keeper write some of
// them), so a saved file always loads again. The bounds also keep the
// arithmetic on them (products with layer and stretch counts, dots times
// 54-byte columns, mm times 300 / 25.4) far inside the int range.
struct Range {
  const char* name;
  double low, high;
};
constexpr Range kRanges[] = {
    // slicing: sent to the slicer, dots and micrometres
    {"shiftLayer", 0, 300},          // dots, taken modulo band64
    {"defaultcolor", 0, 32767},      // a 15-bit colour code
    {"layerMicrons", 10, 2000},      // divides the fit and skip checks
    {"jumpmicrons", 0, 10000},       // platform step; 0 never steps
    {"waterpixel", 0, 64},           // "max 64"
    {"sumpixel", 0, 128},            // "max 128"
    {"colorweight", 0, 200},         // percent of colour against water
    {"primgrens", 0, 15},            // a bit position in a 16-bit nozzle word
    {"endskippers", 0, 999},
    {"skinmicrons", 0, 20000},
    // margins
    {"buildRoomLength", -1000, 1000},  // mm; negative: a fixed skip
    {"skipstretches", 0, 999},         // the result is clamped to 0..999 anyway
    {"haltingLayer", 0, 1000000},
    {"rightsidemargin", -2400, 2400},  // dots across the 2400-dot raster
    {"behindmargin", 0, 2400},
    {"prepstretches", 0, 100},
    {"preplayers", 0, 1000},
    {"stretchcut", 0, 500},            // mm
    {"startinglayer", 0, 1000000},
    {"addedStretch", 0, 100},
    {"moveBackAlign", -30000, 30000},  // dots
    {"bidiadjust", -3000, 3000},       // dots
    {"rollSplit", 0, 999999},          // 1000 x lim + skip, each below 1000
    // files
    {"dualbox", 0, 31},  // bits 0-3: the feeder on G-codes; bit 4: the roller on the Marlin machine
    // powder
    {"containerEndLimits", 0, 9999},  // 100 x max + min, percentages
    {"powderSkipLayers", 0, 100000},
    {"layerMorePowder", 0, 100000},
    {"nopowderstretches", 0, 1000},
    {"powderdelay", 0, 20000},    // ms, or 10000 + a head position in dots
    {"powdertime", 0, 60000},     // ms
    {"maxpowdertime", 0, 60000},  // ms
    {"adpowderfirst", 0, 60000},  // ms
    {"addpowderlast", 0, 60000},  // ms
    {"powderPercentage", -100, 1000},  // percent; negative: powdertime alone
    {"powderadvance", -500, 500},      // mm
    {"powderDY", -500, 500},           // mm
    {"rollerspeed", 0, 100},           // "0..100"
    {"shakerspeed", 0, 100},           // "0..100"
    {"sprinklesplit", 0, 999999},      // add x 100 + percent
    {"hopperlim", 0, 100000},          // stretches
    {"nohopperlim", 0, 100000},
    // fdm: speeds in mm/min, positions in mm
    {"halfSpeedBytes", 0, 1000000},  // a record holds at most 999,999 bytes
    {"printspeed", 1, 100000},
    {"movespeed", 1, 100000},
    {"gcode_ok", -100, 100},
    {"zService", 0, 1000},
    {"zmarlinMax", 0, 1000},
    {"xMarlinBase", 0, 1000},
    {"xPrime", -1000, 1000},  // negative: no priming position
    {"yvLow", 0, 1000},
    {"yvHi", 0, 1000},
    {"MarlinMaxZ", 0, 1000},
    {"transformxy", -1000, 1000},  // offsets in mm, coefficients 0, 1 and 2
    {"zlevelhome", -1000, 1000},
    {"yInspect", 0, 1000},
    // inkjet
    {"repeatpurge", 0, 1000},       // dots
    {"alignJump", -10000, 10000},   // dots
    {"dropletsize", 0, 13},         // 1..3, plus 10 for water only
    {"dropgrens", 0, 1000},         // a nozzle row offset
    {"stretchSizeLim", 100, 990000},  // bytes; a record stays below 1,000,000
    {"CartridgeDist", -2400, 2400},   // dots
    {"repeatstretch", 1, 100},
    {"heatlevelc", 0, 255},
    {"heatlevelbw", 0, 255},
    {"temprWater", 0, 120},  // degrees C
    {"temprColor", 0, 120},
    // various
    {"hazeRemove", -20000, 2400},  // dots; negative: micrometres of skin
    {"camsyncer", -1, 1000000},    // -1: no camera
    {"maxstretchlen", 0, 10000000},  // measured by the conversion
    {"primeCheckLayer", 0, 100000},
    {"maxWaterPrimejump", 0, 1000},
    {"maxColorPrimeJump", 0, 1999},  // above 999: each colour against the rest
    {"wPrimePulse", 0, 60000},       // ms
    {"band64", 1, 150},              // rows of one band: the head's water rows
    {"waterPulseOption", -5, 14},    // 1780 - opt x 120 ns stays positive
    {"dryingtemperature", 0, 150},   // degrees C
    // hidden
    {"FormPosition", -10000, 10000},  // pixels
    {"printpages", 0, 1000000},       // set by the scan
    {"br32", 0, 300},                 // dots
    {"dataGraceTime", 0, 60000},      // ms
    {"plateTime", 0, 600000},         // ms
    {"plateXmove", 0, 1000},
    {"plateDownMove", 0, 100000},   // x 0.01 mm
    {"plateParkMove", 0, 100000},   // x 0.01 mm
    {"plateDownSpeed", 0, 100000},  // x 0.01
    {"kcmyoff", -2400, 2400},       // dots
};

// Settings a running print depends on: what the slicer made the job with,
// what the conversion built the jetting data with, and the machine links.
constexpr const char* kFixedWhilePrinting[] = {
    // slicing (the whole "slicing" group is added below)
    "depleteFile",
    // conversion
    "band64", "kcmyoff", "CartridgeDist", "stretchSizeLim", "bidirectional", "behindmargin", "rightsidemargin",
    "hazeRemove", "repeatpurge", "dropgrens", "br32", "blackPrint", "addedStretch", "shortcutstretch",
    "powderReduce", "buildRoomLength", "moveBackAlign", "yvLow", "yvHi",
    // links
    "CommInkDevice", "XonXoffMode", "localXonXoff", "gcode_ok"};

void setParamLimits(ParamTable& t) {
  for (const Range& r : kRanges) t.setParamRange(r.name, r.low, r.high);
  for (const char* name : kFixedWhilePrinting) t.setFixedWhilePrinting(name);
  const auto& groups = t.paramGroups();
  for (const ParamEntry& e : t.entries())
    if (e.paramGroup >= 0 && groups[std::size_t(e.paramGroup)] == "slicing") t.setFixedWhilePrinting(e.paramName);
}
}  // namespace

void registerParamTable(ParamTable& t, Settings& s, Controls& controls) {
  t.beginParamGroup("slicing");
  t.addparint("shiftLayer", s.shiftLayer, "amount of 300 dpi pixels each layer is shifted along inkjet row");
  t.addparbool("skipwater", s.skipwater, "print with only colored ink");
  t.addparbool("bridgelayers", s.bridgelayers, "alternate shift layers 32 voxels (2.7mm) ");
  t.addparbool("allowglasscode", s.allowglasscode, "let transparant trias take color of nearest tria");
  t.addparint("defaultcolor", s.defaultcolor, "colorcode for uncolored stl files 1024R+32G+B (0=black 32767=white)");

  t.beginParamGroup("margins");
  t.addpartxt("LayerGcodes", s.LayerGcodes, "Extra gcodes to be sent after each layer");
  t.addparint("buildRoomLength", s.buildRoomLength, "buildarea-Length, used to shift buildup place to end of buildbox");
  t.addpartxt("preInkGcodes", s.preInkGcodes, "Extra gcodes before ink jetting or @<ms> for roller stop");
  t.addpartxt("liftPrepGcodes", s.liftPrepGcodes, "gcodes to prepare lift for powder loading");
  t.addparint("skipstretches", s.skipstretches, "final stretches of each layer that are not printed when no data");
  t.addparint("haltingLayer", s.haltingLayer, "Layer where printing is paused");

  t.beginParamGroup("files");
  t.addparint("dualbox", s.dualbox, "1=prismbay setup with dualbox");
  t.addparbool("openMarlinAtStart", s.openMarlinAtStart, "Open Fdm serial port when starting program");
  t.addpartxt("depleteFile", s.depleteFile, "File that contains table with color versus droplet count");
  t.addpartxt("#file_name", s.file_name, "core of the latest 3d source file");
  t.addpartxt("#file_folder", s.file_folder, "last used folder for 3d files");
  t.addparbool("IniAutoSave", s.IniAutoSave, "allways save ini file on config change");
  t.addparbool("localXonXoff", s.localXonXoff, "handle xon/xoff by programm and not by driver (after restart)");

  t.beginParamGroup("powder");
  t.addparint("containerEndLimits", s.containerEndLimits,
              "limits of powder settings from sensor in container (100Xmax+min) ");
  t.addparint("powderSkipLayers", s.powderSkipLayers, "Number of layers after which repeatedly no powder is sprinkled");
  t.addparint("layerMorePowder", s.layerMorePowder, "Number of layers after which powder is increased by one");
  t.addparint("nopowderstretches", s.nopowderstretches, "#stretches where no powder is sprinkled");
  t.addparint("powderdelay", s.powderdelay, "delay time shaker start [ms] or 10000+starting-pos in [300 dpi]");
  t.addparint("powdertime", s.powdertime, "time that the powder shaker is on for each stretch");
  t.addparint("maxpowdertime", s.maxpowdertime,
              "base value for calcualting powderdelay and powdertime from stretch length");
  t.addparint("adpowderfirst", s.adpowderfirst, "additional length of powdertime for first stretch");
  t.addparint("addpowderlast", s.addpowderlast, "additional length of powdertime for last stretch (buggy)");
  t.addparint("powderPercentage", s.powderPercentage, "part of stretch where powder is sprinkled");
  t.addparint("powderadvance", s.powderadvance, "start powder sprinkling earlier [mm]");
  t.addparbool("powderReduce", s.powderReduce, "Lay powder only where more model will be printed");
  t.addparbool("spoonPowder", s.spoonPowder, "Let a human sprinkle the powder (only labo mode)");
  t.addparint("powderDY", s.powderDY, "shift in Y during powder sprinkling");

  t.beginParamGroup("slicing");
  t.addparint("layerMicrons", s.layerMicrons, "thickness of layers [micro meters]");
  t.addparint("jumpmicrons", s.jumpmicrons, "step of platform at mayor layer buildup change");
  t.addparbool("allwaysjump", s.allwaysjump, "allways step platform ");

  t.beginParamGroup("fdm");
  t.addparint("halfSpeedBytes", s.halfSpeedBytes, "above this number of databytes the printspeed is halved");
  t.addparint("printspeed", s.printspeed, "speed of printhead while printing mm/min");
  t.addparint("movespeed", s.movespeed, "speed of printhead while not printing");
  t.addparint("gcode_ok", s.gcode_ok, "start value of ok-counter from Marlin");
  t.addpartxt("startgcodes", s.startgcodes, "initial gcodes sent to Marlin..");
  t.addparfloat("zService", s.zService, "Amount of distance bed goes down for printhead service");
  t.addparfloat("zmarlinMax", s.zmarlinMax, "Maximum z value");
  t.addparbool("reversdir", s.reversdir, "invert direction signal from fdm (requires restart)");

  t.beginParamGroup("margins");
  t.addparint("rightsidemargin", s.rightsidemargin, "margin on right side in 300 dpi pixels");
  t.addparint("behindmargin", s.behindmargin,
              "margin behind in 300 dpi pixels (empty pixels in beginning of print stretch) ");
  t.addparint("prepstretches", s.prepstretches, "number of powder stretches at start each layer");
  t.addparint("preplayers", s.preplayers, "number of powder layers at beginning without platform change");
  t.addparint("stretchcut", s.stretchcut, "difference in mm between stretch with and without printing");
  t.addparint("startinglayer", s.startinglayer, "first layer to be printed");
  t.addparint("addedStretch", s.addedStretch, "empty stretches before printing");
  t.addparint("moveBackAlign", s.moveBackAlign,
              "offset [pixels] for aligning backway print while printing bidirectional");
  t.addparint("bidiadjust", s.bidiadjust, "offset [pixels] adjusting backway print alignment");
  t.addparint("rollSplit", s.rollSplit, "Gap for long distance between sprinkler and inkjet = 1000 X lim+skip");

  t.beginParamGroup("inkjet");
  t.addparint("repeatpurge", s.repeatpurge,
              "number of purge pixels at beginning of each stretch to keep ink unblocked");
  t.addparbool("#XonXoffMode", s.XonXoffMode, "software handshaking with xon and xoff codes");

  t.beginParamGroup("various");
  t.addparint("hazeRemove", s.hazeRemove,
              "disable last water pixels in stretch to diminish white haze (300 dpi units) neg is microns no "
              "color skin");
  t.addpartxt("goodbyecode", s.goodbyecode, "code sent to fdm when closing from command prompt start");
  t.addparbool("pauseEachLayer", s.pauseEachLayer, "pause printing after each layer");
  t.addparbool("wetWhileMoved", s.wetWhileMoved, "Keep cartridge wet (firing) when it is moved to front or side");
  t.addparbool("onCakeMode", s.onCakeMode, "Print without lowering platform");
  t.addparbool("ButtonHints", s.ButtonHints, "Display yellow line with explanation when hoovering over button");
  t.addparint("camsyncer", s.camsyncer, "gcode down counter for syncing timelapse camera");
  t.addpartxt("userfuncts", s.userfuncts, "add commands in funct example: powd;100p/corner;>G0 X0 Y0");
  t.addparint("maxstretchlen", s.maxstretchlen, "size of longest stretch");
  t.addparint("primeCheckLayer", s.primeCheckLayer, "interval in layers  for cartridge priming checking");
  t.addparint("maxWaterPrimejump", s.maxWaterPrimejump, "maximum increase in cartridge temperature after priming");
  t.addparint("maxColorPrimeJump", s.maxColorPrimeJump, "max prime tempr rise color (>999 = check each color)");
  t.addparint("wPrimePulse", s.wPrimePulse, "length in ms of water priming");
  t.addparint("band64", s.band64, "width of printing stretches [pixels] must be 64 for color printing");
  t.addparcode("waterPulseOption", s.waterPulseOption, "%d,2r",
               "shorten water cartridge pulse length = 1780-opt*120 [ns]");

  t.beginParamGroup("hidden");
  t.addparbool("acceptM18Z", s.acceptM18Z, "fdm machine can work with 'M18 Z' command");
  t.addpararr("FormPosition", s.FormPosition.data(), int(s.FormPosition.size()),
              "Position and size of form at startup");
  t.addpartxt("dropItems", s.dropItems, "gcodes entered in dropdown box");
  t.addparint("printpages", s.printpages, "number of layers print for current file");
  t.addpartxt("formCaption", s.formCaption, "Caption of the main form");
  t.addparint("br32", s.br32, "shift distance when bridging");
  t.addparint("dataGraceTime", s.dataGraceTime, "extra delay (ms) for data tranfer to prismbay");
  t.addparint("plateTime", s.plateTime, "time plate heater is down [ms]");
  t.addparint("plateXmove", s.plateXmove, "distance pod moves away during plate");
  t.addparint("plateDownMove", s.plateDownMove, "distance plate moved down (X 0.01)");
  t.addparint("plateParkMove", s.plateParkMove, "position of plate in lifted position (X 0.01)");
  t.addparint("plateDownSpeed", s.plateDownSpeed, "speed of plate down movement (X 0.01)");

  t.beginParamGroup("files");
  t.addparbool("blackPrint", s.blackPrint, "print color as black from p3d file (double-i3 grayscale)");

  t.beginParamGroup("fdm");
  t.addparfloat("xMarlinBase", s.xMarlinBase, "starting x position for printing");
  t.addparfloat("xPrime", s.xPrime, "x position for priming cartridges (negative = off)");
  t.addparfloat("yvLow", s.yvLow, "furthest y position where printhead can go");
  t.addparfloat("yvHi", s.yvHi, "starting y position for printhead");
  t.addparfloat("MarlinMaxZ", s.MarlinMaxZ, "Max height of printed object");
  t.addpararr("transformxy", s.transformxy.data(), int(s.transformxy.size()),
              "transform gcode matrix x=[0]+x*[2]+y*[3] y=[1]+x*[4]+y*[5]");

  t.beginParamGroup("hidden");
  t.addpararr("kcmyoff", s.kcmyoff.data(), int(s.kcmyoff.size()), "offsets in printhead (2*water+8*color)");

  t.beginParamGroup("inkjet");
  t.addparint("alignJump", s.alignJump, "yshift to align pattern (300dpi)");
  t.addparcode("dropletsize", s.dropletsize, "<spec>3*%d,24o",
               "size of droplets (1..3) higher size needs slow printspeed (+10 just water)");
  t.addparint("dropgrens", s.dropgrens, "offset in ink-drop position between water and ink");
  t.addparint("stretchSizeLim", s.stretchSizeLim, "max number of bytes send in single stretch");
  t.addparint("CartridgeDist", s.CartridgeDist, "distance beween ink and water cartridge");
  t.addparint("repeatstretch", s.repeatstretch, "repeat stretch to apply more fluid");
  t.addparbool("bidirectional", s.bidirectional, "enable bidirectional printing");
  t.addpartxt("#CommInkDevice", s.CommInkDevice, "comm port for ink unit. Add '-' to skip port init");
  t.addpartxt("InkjetIni", s.InkjetIni, "initialization data send to ink unit");
  t.addpartxt("repeatcode", s.repeatcode, "code to be send to ink-unit with each stretch");
  t.addpartxt("EachLayCode", s.EachLayCode, "code to be send to ink-unit with each Layer");

  t.beginParamGroup("fdm");
  t.addparfloat("zlevelhome", s.zlevelhome, "z level position at beginning of print");
  t.addparfloat("yInspect", s.yInspect, "y positon for human inspection of cartridges");

  t.beginParamGroup("inkjet");
  t.addparcode("heatlevelc", s.heatlevelc, "%d,2t", "heater level for color cartridge");
  t.addparcode("heatlevelbw", s.heatlevelbw, "%d,1t", "heater level for water cartridge");
  t.addparcode("temprWater", s.temprWater, "%d,14t", "setpoint temperature water inkjet");
  t.addparcode("temprColor", s.temprColor, "%d,15t", "setpoint temperature color inkjet");

  t.beginParamGroup("hidden");
  t.addparmenu("MIconnectcheck", controls.at("connectcheck1"),
               "checking for cartridge connected properly during prining");
  t.addparmenu("MIIgnoreHopper", controls.at("IgnoreHopper1"), "do not pause on powder feeding errors during printing");
  t.addparmenu("MItempr_control", controls.at("temprcontrol1"), "allow controlling of temperature");
  t.addparmenu("MInocolor", controls.at("NoColor1"), "ignore color ink-cartridge for conect checking");

  t.beginParamGroup("slicing");
  t.addparint("waterpixel", s.waterpixel, "amount of water (max 64) used in center of model ");
  t.addparint("sumpixel", s.sumpixel, "amount of water (max 128) used in colored skin of model");
  t.addparint("colorweight", s.colorweight, "weight ratio in % beween color drops and water drops");
  t.addparcode("primgrens", s.primgrens, "%d,16o", "index used for shift positioning color vs water pixels");

  t.beginParamGroup("powder");
  t.addparcode("rollerspeed", s.rollerspeed, "%d,11o", "power send to roller motor (0..100)");
  t.addparcode("shakerspeed", s.shakerspeed, "%d,12o", "power send to shaker motor (0..100)");
  t.addparcode("sprinklesplit", s.sprinklesplit, "%d,11r",
               "code for split powder deposit in multiple burst (=add*100+perc)");

  t.beginParamGroup("various");
  t.addparbool("shortcutstretch", s.shortcutstretch, "allow shorter stretches when no coloring is used in stretch");
  t.addparbool("silentmemo", s.silentmemo, "limit data sent to memo screen");
  t.addparint("dryingtemperature", s.dryingtemperature, "temperature of heated plate at end of build");

  t.beginParamGroup("powder");
  t.addparcode("hopperlim", s.hopperlim, "%d,17o", "max amount of stretches that hopper may be active{hopper limit}");
  t.addparcode("nohopperlim", s.nohopperlim, "%d,18o", "max amount of stretches that hopper may be inactive");

  t.beginParamGroup("slicing");
  t.addparint("endskippers", s.endskippers, "number of stretches skipped at end of layer when nothing to print");
  t.addparint("skinmicrons", s.skinmicrons, "thickness of colored skin in model");

  t.beginParamGroup("files");
  t.addparbool("queryIniSave", s.queryIniSave, "Ask for saving INI file when closing programm");
  t.addparbool("stlnameIsObjname", s.stlnameIsObjname, "convert obj file to stl files with same name");
  t.addpartxt("#slicer_exe", s.slicer_exe, "exe file for slicing colored stl files");
  t.addpartxt("#viewer3d_exe", s.viewer3d_exe, "exe file for viewing stl in 3D");

  setParamLimits(t);
}

}  // namespace ph
