#pragma once
// The developer aids of the mesh-tools window: a small code generator for
// the settings registry ("scan": C-like declarations to declarations,
// registration calls and settings lines; "loadini": settings lines back to
// declarations) and three tests ("test": a temperature log to a numbered
// list, "sort": the in-place merge sort, "filmsplit": crops of listed
// frames). Results go to the operator log.
#include <span>
#include <string>
#include <vector>

namespace ph {

class HostCore;
class MeshTools;

// What the generator recorded. Any number of declarations and elements.
struct GeneratorTables {
  struct Declaration {
    std::string name;
    // "@b", "@i", "@f", "@[", or for a text the text itself.
    std::string kind;
    // bool 0/1, int value, double as trunc(1000 x value).
    int value = 0;
    // Arrays: their elements in `elements`.
    int first = 0;
    int length = 0;
  };
  std::vector<Declaration> declarations;
  std::vector<int> elements;
};

// Whether a kind is one of the four markers (else it marks a text).
bool isKindMarker(const std::string& kind);

// Sorts a[lo..hi] (inclusive) ascending in place: halves first, then a merge
// through a queue of the left half's displaced elements. On ties an element
// of the right half goes first. Indices outside the array are left out.
void mergeSortRange(std::span<int> a, int lo, int hi);

class DevTools {
 public:
  DevTools(HostCore& core, MeshTools& mesh);
  DevTools(const DevTools&) = delete;
  DevTools& operator=(const DevTools&) = delete;

  // ---- menu handlers ----
  void scanSampleDeclarations() { scanDeclarations(inWorkFolder("voorbeeld.ini")); }
  void loadSampleSettingsLines() { loadSettingsLines(inWorkFolder("voorbeeld2.ini")); }
  void listSampleTemperatures() { temperatureList(inWorkFolder("tempr8.log"), inWorkFolder("tempr8.gfk")); }
  void sortRandomNumbers();
  // `captureRoot`: the frame grabber's; the list is witled/scherp.txt below it.
  void cropSharpFrames(const std::string& captureRoot) {
    cropListedFrames(captureRoot + "/witled/scherp.txt", captureRoot + "/witledb");
  }

  // ---- the work behind them; false when the tool stopped on a file ----
  // Prints declarations, registration calls and settings lines.
  bool scanDeclarations(const std::string& file);
  // Prints declarations for the settings lines.
  bool loadSettingsLines(const std::string& file);
  bool temperatureList(const std::string& log, const std::string& savedMemo);
  void sortTest(std::vector<int> numbers);
  bool cropListedFrames(const std::string& list, const std::string& outFolder);

  // The tables of the last "scan" or "loadini".
  GeneratorTables tables;

 private:
  std::string inWorkFolder(const std::string& name) const;
  bool readTokens(const std::string& file, const char* tool, std::vector<std::string>& lines);
  void printDeclarations();
  void printRegistrations();
  void printSettingsLines();
  void printElements(const GeneratorTables::Declaration& d);

  HostCore& core_;
  MeshTools& mesh_;
};

}  // namespace ph
