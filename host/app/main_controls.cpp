// The main window's controls and menus as the logic knows them. Later
// subsystems attach their handlers by name.
#include "host/app/host.h"
#include "host/core/param_table.h"

namespace ph {

void createMainControls(Controls& c) {
  using K = Control::Kind;
  auto menu = [&](const char* name, const char* caption, const char* hint) {
    c.add(K::Menu, name, caption).hint = hint;
  };
  auto item = [&](const char* parent, const char* name, const char* caption, const char* hint) -> Control& {
    Control& i = c.add(K::MenuItem, name, caption, parent);
    i.hint = hint;
    return i;
  };
  auto option = [&](const char* name, const char* caption, bool checked, const char* hint) {
    Control& i = item("options1", name, caption, hint);
    i.checkable = true;
    i.checked = checked;
  };

  menu("setfile1", "Files", "");
  item("setfile1", "inifile1", "inifile", "open a settings file");
  item("setfile1", "mergeini1", "merge ini", "load a settings file over the current one, keeping ports and paths");
  item("setfile1", "saveini1", "save_ini", "save the settings file");
  item("setfile1", "setinifile1", "save inifile as", "save the settings under another name");
  item("setfile1", "fullini1", "full_ini", "write every setting to allparam.i3d");
  item("setfile1", "setexes1", "exe_currentdir", "take the current folder for models, slicer and settings");
  item("setfile1", "povstl1", "stl/obj", "open a model: slice it and convert it for printing");
  item("setfile1", "p3dfile1", "p3d file", "open a sliced job and convert it for printing");
  item("setfile1", "ParamFile1", "cmd line File", "open the model named on the command line");
  item("setfile1", "viewer1", "viewer", "show the layers of the current model in the slicer");
  item("setfile1", "view3d1", "view3d", "show the current model in the 3-D viewer");
  item("setfile1", "balkfile1", "Tempr File", "slice and convert the temperature test");
  item("setfile1", "KeepForm1", "keep window position", "keep the window's size and position in the settings");
  item("setfile1", "goodbye1", "goodbye", "send the goodbye codes and close when they are done");
  menu("setup1", "Setup", "");
  item("setup1", "config1", "config", "change the settings, page by page");
  item("setup1", "SearchParam1", "SearchParam", "find settings by name or help text");
  menu("inkjet1", "Inkjet", "the jetting unit's controls and tests");
  menu("options1", "Options", "switches of the print");
  addSettingMenuItems(c, "options1");
  c.at("connectcheck1").hint = "check the cartridge connection while printing";
  c.at("IgnoreHopper1").hint = "do not pause on powder feeding errors";
  c.at("temprcontrol1").hint = "allow controlling the temperature";
  c.at("NoColor1").hint = "ignore the colour cartridge when checking connections";
  for (const char* n : {"BMPlayers1", "cocooned1", "debugroute1", "detour1", "gcodes1", "inkdata1", "MarlinResp1",
                        "multiPowderlayer1", "OkDebug1", "picturemode1", "piston1", "powder2", "PrepLifts1",
                        "scaled1", "scancartridges1", "simloop1"})
    option(n, n, false, "");
  c.at("cocooned1").caption = "cocooned";
  c.at("cocooned1").hint = "print wall around object";
  menu("funct1", "Functions", "");
  item("funct1", "blockbased1", "blockbased", "convert the sliced job into jetting data");
  item("funct1", "scanconv1", "scan+conv", "").enabled = false;
  // Diagnostics of the conversion: expert mode only.
  item("funct1", "scanp3d1", "scanp3d", "");
  item("funct1", "movetim1", "movetim", "");
  item("funct1", "bitreport1", "bitreport", "");
  // Inspection and export of the job data: expert mode only.
  for (auto [name, caption] : {std::pair{"shortp3d1", "shortp3d"}, {"dmccount1", "dmccount"},
                               {"dmc2rhino1", "dmc2rhino"}, {"dmcimage1", "dmcimage"},
                               {"byBlocksTst1", "byBlocksTst"}, {"pakuit1", "pakuit"},
                               {"unblockdmc1", "unblockdmc"}, {"equalgfk1", "equalgfk"}})
    item("funct1", name, caption, "");
  menu("util1", "Utilities", "");
  item("util1", "meshkit1", "meshkit", "open the mesh tools: OBJ to coloured STL and the model tools");
  item("util1", "Form21", "Form2", "open the mesh tools with the log in their window");
  item("util1", "ply2stl1", "ply2stl", "convert temp.ply of the model folder into fromply.stl, after asking");
  // Asks, and changes nothing: expert mode only (no hint).
  item("util1", "adjuststlnormals1", "adjust stl normals", "");
  item("util1", "bobbelhead1", "bobbelhead", "enlarge the head of a model above its neck (bobhead.stl)");
  item("util1", "headTexture1", "head texture", "give a scanned head OBJ one unrolled texture for printing (NAME_flt.obj)");
  // Writes the model's height profile beside the powder heights of the
  // last conversion to temp.gfk: expert mode only.
  item("util1", "getheights1", "getheights", "");
  item("util1", "hollowstl1", "hollow_stl", "hollow the current model into hollowed.stl and slice it");
  item("util1", "shellstl1", "sepa_voids", "write an OBJ's faces seen from outside first, the inner ones after g inside");
  item("util1", "addBthints1", "button hints", "show the hints of the buttons");
  // Developer aids: visible in expert mode only (no hint).
  item("util1", "btnames", "button names", "");
  item("util1", "listmenus1", "list menus", "");
  item("util1", "scansethint1", "scan sethint", "");
  // Link tests: the jetting unit's test sequence, the temperature parser.
  item("util1", "Button161", "Button16", "");
  item("util1", "catchtempr1", "catchtempr", "");
  // Test and alignment patterns, written as .p3d jobs.
  menu("pattern1", "pattern", "alignment patterns: print them with Align");
  item("pattern1", "allignpattern1", "allignpattern", "write the alignment crosses (allignpat.p3d)");
  item("pattern1", "whiteshifts1", "whiteshifts", "write the job's layers with water shifted across the page (blok123ww.p3d)");
  item("pattern1", "allignCol1", "allignCol", "write the colour alignment dashes (pattern.p3d)");
  item("pattern1", "allignWater1", "allignWater", "write the water alignment dashes (pattern.p3d)");
  item("pattern1", "slantlines1", "slantlines", "write slanted lines of every ink (pattern.p3d)");
  item("pattern1", "waterLineWidth1", "waterLineWidth", "the width of the water lines of the ribs");
  menu("test1", "test", "test patterns");
  item("test1", "fine1", "fine", "write ribs shifted in steps of 2 dots (pattern.p3d)");
  item("test1", "coarse1", "coarse", "write ribs shifted in steps of 4 dots (pattern.p3d)").tag = 8;
  item("test1", "allcolors1", "allcolors", "write colour bands and ribs (pattern.p3d)").tag = 4;
  item("test1", "colors32k1", "colors32k", "write a picture of every 15-bit colour (all32kcolors.bmp)");
  // Developer aids: expert mode only (no hint).
  item("test1", "contactlayout1", "contactlayout", "");
  item("test1", "paoverz1", "paoverz", "");
  item("test1", "findmarge1", "findmarge", "");
  item("test1", "lmtest1", "lmtest", "");
  item("test1", "waterbytes1", "waterbytes", "");
  item("test1", "fdebug1", "fdebug", "");
  // Print-head tables as source text for the jetting unit's firmware.
  menu("exbuttons1", "ex-buttons", "");
  for (auto [name, caption] : {std::pair{"Button11", "Button1"}, {"Button31", "Button3"}, {"Button41", "Button4"},
                               {"Button51", "Button5"}, {"Button61", "Button6"}, {"Button81", "Button8"},
                               {"Button91", "Button9"}, {"Button101", "Button10"}})
    item("exbuttons1", name, caption, "");

  for (auto [name, caption] : {std::pair{"btPlatform", "platform"}, {"btDspP3d", "dsp p3d"}, {"btStart", "start"},
                               {"btDmc", "pr dmc"}, {"btzreset", "Z-reset"}, {"btAbort", "abort"},
                               {"btpark", "< --- >"}, {"BtHome", "Home"}, {"btCartridges", "Cartridges"},
                               {"btPrep", "prep layers"}, {"btBatch", "3d print"}, {"btAllign", "Align"},
                               {"btFront", "V ^"}, {"btViewstl", "View stl"}, {"BurstCol", "Ink"},
                               {"BurstWtr", "Wtr"}, {"tstbt", "tstbt"}})
    c.add(K::Button, name, caption);
  for (auto [name, caption] : {std::pair{"cb_comm", "cb_comm"}, {"cbkeepwet", "KeepWet"}, {"pause", "pause"}}) {
    Control& b = c.add(K::CheckBox, name, caption);
    b.checkable = true;
  }
  for (auto [name, caption] : {std::pair{"Label2", "powder +/-"}, {"LabPwdr", "0"}, {"shakeLabel", "shake"},
                               {"LabBurst", ""}, {"LabStretch", ""}, {"perclabel", ""}, {"Label1", ""},
                               {"Label3", ""}, {"vlabel", ""}})
    c.add(K::Label, name, caption);
  c.add(K::UpDown, "UpDown1", "");
  c.add(K::Combo, "parmcombo", "");
  c.add(K::Combo, "typeGcode", "");
  // The console's helper: raw G-code lines typed into typeGcode pass
  // through it; hidden.
  c.add(K::Edit, "Edit1", "M18").visible = false;
  c.add(K::Image, "cmyburst", "");
  c.add(K::Image, "dropshidden", "");
  c.add(K::Image, "Imdrops", "");
  c.add(K::Shape, "xofflamp", "");
}

}  // namespace ph
