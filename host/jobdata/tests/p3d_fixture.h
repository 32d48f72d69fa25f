#pragma once
// Small .p3d jobs for the conversion's tests and benchmark, written in the
// slicer's byte layout: command frames with the layer thickness, page heads,
// rows of four PackBits planes (water, cyan, magenta, yellow), empty rows
// as "w" or "y" skips, the page's closing "0W" and the fingerprint line.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ph::testing {

// One raster row: the decoded bytes of each plane (8 dots a byte, the first
// dot in the high bit); an empty plane has no bytes.
struct P3dRow {
  std::array<std::vector<std::uint8_t>, 4> planes;
  // A row with one dot at x in a plane.
  static P3dRow dot(int plane, int x);
  void set(int plane, int x);
};

class P3dJob {
 public:
  // zs: layer thickness after "ZS" in units of 10 micrometres.
  explicit P3dJob(int zs = 25, bool startBlock = true);

  void beginLayer();
  void row(const P3dRow& r);
  // n empty rows as bare row ends.
  void emptyRows(int n);
  // n empty rows as a skip code ("ny").
  void skipRows(int n);
  // Raw bytes inside a page (codes and data as they stand).
  void raw(const std::string& bytes) { data_ += bytes; }
  // The page's end: tailRows empty rows, "0W" and the page end codes.
  void endLayer(int tailRows = 3);
  // The fingerprint line closes the job.
  void finish();

  const std::string& bytes() const { return data_; }
  void writeTo(const std::string& path) const;

 private:
  std::string data_;
  int zs_;
};

// PackBits as the slicer writes it (repeats of 2 or more equal bytes).
std::string packBits(const std::vector<std::uint8_t>& bytes);

}  // namespace ph::testing
