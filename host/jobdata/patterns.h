#pragma once
// Test and alignment patterns: pictures drawn on a canvas and written as
// .p3d jobs (one raster layer per picture, or several), which the host
// converts and prints like a sliced job. The operator reads the printed
// result to set the head offsets (kcmyoff, dropgrens, bidiadjust).
#include <QImage>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ph {

class HostCore;
class LayerPreview;
struct JobState;

// Picture colours of the patterns (red | green << 8 | blue << 16). The
// grey's channels are even, so it carries water and no colour.
inline constexpr int kPatternWhite = 0xFFFFFF;
inline constexpr int kPatternCyan = 0xFFFF00;
inline constexpr int kPatternMagenta = 0xFF00FF;
inline constexpr int kPatternYellow = 0x00FFFF;
inline constexpr int kPatternGrey = 0xF0F0F0;
// The colour of the texts on the patterns: colour inks, no water.
inline constexpr int kPatternTextColour = 0x0F0F0F;

// PackBits of n bytes into out (room for n + n / 128 + 2 bytes); returns
// the packed length. Runs of 3 or more equal bytes become repeat runs. A
// result of 4 bytes or more that ends in a repeat run of zero bytes loses
// that run: a reader leaves the rest of the row empty anyway.
int packBitsRow(std::uint8_t* out, const std::uint8_t* in, int n);

// 12 blanks, the layer-start marker, ten empty rows and a skip of 102 rows:
// the head of every pattern layer.
void writePatternLayerHead(std::string& out);

// How the picture's dots become plane dots.
enum class PatternDots {
  // Water where red, green and blue all have bit 0 clear; cyan, magenta
  // and yellow where red, green or blue is below 16.
  Channels,
  // Only pixels exactly equal to black, cyan, magenta or yellow, and each
  // non-empty plane starts with 136 blank dots (the alignment pattern).
  ExactWithMargin,
};

// Appends picture rows firstRow..lastRow as raster rows: four planes
// (water, cyan, magenta, yellow), each its PackBits byte count and code
// ("v", "w" for the last plane) and the packed bytes cut after the plane's
// last dot; an empty plane is its code alone. With endsLayer the last
// plane of the last row is "W". With slant, the water plane at x > 5 reads
// the picture at (x + s, y + s), s = ((x - 120) * 5 / 700 - 2) * 2, which
// shifts water against colour across the page. Outside the picture reads
// as white; at most 2400 dots of a row are written.
void appendPatternRows(const QImage& picture, int firstRow, int lastRow, std::string& out, bool slant,
                       PatternDots dots, bool endsLayer);

// One pattern layer from picture rows firstRow..lastRow: the layer head and
// the rows, ended by "W".
void pictureToRasterRows(const QImage& picture, int firstRow, int lastRow, std::string& out, bool slant);

// A canvas with the pen of the pattern pictures: a colour, a width (round
// ends) and the mask mode, in which a stroke ANDs its colour into the
// picture so that overlapping strokes combine. Lines leave out their end
// point.
struct PatternCanvas {
  PatternCanvas(int width, int height);
  QImage picture;
  int penWidth = 1;
  bool maskMode = false;
  int fontSize = 10;
  int fontColour = 0;

  void clear(int colour);
  void line(int colour, int x0, int y0, int x1, int y1);
  // Lines from point to point: {x0, y0, x1, y1, ...}.
  void polyline(int colour, std::initializer_list<int> points);
  // Text with its top left corner at (x, y), in the font's colour. Only
  // where a window system runs (fonts need one); without it nothing is
  // drawn.
  void text(int x, int y, const std::string& text);

 private:
  void stamp(int colour, int x, int y);
};

// Dashed corner arms in colour1 from (x, y) along X and Y, scaled by s,
// whose gaps colour2 fills, displaced across the arm by offset.
void drawAlignCross(PatternCanvas& canvas, int colour1, int colour2, int x, int y, int s, int offset);
// Two dashes of colour1 along X (along = 1) or Y (along = 0) and between
// them a dash of colour2 displaced across by offset. Colours other than
// the pattern grey are masked with 0xF0F0F0 (so they carry water).
void drawOffsetDash(PatternCanvas& canvas, int x, int y, int colour1, int colour2, int along, int offset);
// One pen line from (x0, row) to (x1, row) for each row y0..y1 - 1.
void fillRows(PatternCanvas& canvas, int colour, int x0, int y0, int x1, int y1);
// v with the order of its low 5 bits reversed when bit 5 is set: rows of 32
// values that run back and forth, so neighbours stay close.
int snakeIndex(int v);

// The pattern menus. Each writes its job into the work folder (replacing an
// older one only when the new one was written whole) and shows the picture.
// Starts the print of "pattern.p3d" in pattern mode: true when the print
// runs (the print sequencer's start).
class PatternPrinter {
 public:
  virtual ~PatternPrinter() = default;
  virtual bool startPatternPrint() = 0;
};

class Patterns {
 public:
  Patterns(HostCore& core, JobState& job, LayerPreview& preview, PatternPrinter& printer);

  // The pattern print: pattern mode on, the .dmc stale (the pattern is
  // converted anew), then the print starts. A print that does not start
  // leaves pattern mode off, so the job's own work files are used again.
  void printPattern();

  void makeAlignmentPattern();
  void makeWhiteShiftJob();
  // water: the "allignWater" item (grey base colour) instead of "allignCol".
  void makeColourAlignment(bool water);
  void makeSlantLines();
  // tag: 8 for "coarse" (steps of 4), 4 for "allcolors" (colour bands
  // first), else "fine".
  void makeRibs(int tag);
  void makeColourTable();
  void askWaterLineWidth();
  // Line width (dots) of the water lines of the ribs; the operator sets it
  // through askWaterLineWidth, start-up sets 6 in the dual-box set-up.
  int waterLineWidth() const { return waterLineWidth_; }
  void setWaterLineWidth(int dots) { waterLineWidth_ = dots; }

  // The picture last drawn.
  const QImage& picture() const { return picture_; }
  // The work-folder path of a pattern file.
  std::string patternPath(const std::string& name) const;

 private:
  // Writes the job under its name; false (told) when it was not written.
  bool writeJob(const std::string& name, const std::string& bytes);
  void show(const QImage& picture);

  HostCore& core_;
  JobState& job_;
  LayerPreview& preview_;
  PatternPrinter& printer_;
  QImage picture_;
  int waterLineWidth_ = 12;
};


}  // namespace ph
