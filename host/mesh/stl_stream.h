#pragma once
// Binary STL files streamed one 50-byte facet at a time, as the wrapping
// and the STL tools read and write them: a reader that takes every whole
// record of a file (as the slicer does), a writer that builds its file
// under a temporary name and puts it in place only when it is complete,
// and the two colour conventions of the facet attribute.
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/host_core.h"
#include "host/mesh/vect3.h"
#include "platform/atomic_file.h"

namespace ph {

// The colour convention of a file, from its head. Without "COLOR=" an
// attribute with bit 15 set is 1024R + 32G + B and any other is no colour
// (or the transparent glass code). With "COLOR=" in the head, bit 15 set
// means the head's default colour (the three bytes after the last
// "COLOR=") and a clear bit 15 carries red in bits 0-4, blue in 10-14.
struct StlColours {
  bool headerColour = false;
  std::uint16_t headerDefault = 0;  // 1024R + 32G + B

  static StlColours of(const unsigned char head[kStlHeadSize]);
  bool operator==(const StlColours&) const = default;

  // The attribute in the convention without "COLOR=", and back.
  std::uint16_t toStandard(std::uint16_t attribute) const;
  std::uint16_t fromStandard(std::uint16_t standard) const;
  // Whether the attribute carries a colour of its own.
  bool hasColour(std::uint16_t attribute) const { return ((attribute & 0x8000) != 0) != headerColour; }
  std::uint16_t white() const { return fromStandard(0xFFFF); }
  // No colour; in a "COLOR=" file the nearest is the head's default.
  std::uint16_t noColour() const { return fromStandard(0); }
};

// The facet normal as stored, or from the corners when none is stored.
vect3 facetNormal(const stlFacet& f);
// Whether every corner coordinate is a finite number.
bool finiteCorners(const stlFacet& f);

class StlReader {
 public:
  explicit StlReader(HostCore& core) : core_(core) {}

  // Opens the file with openFile ("rb"), which tells the operator when it
  // cannot; a folder or device is told the same way. A file shorter than
  // its head counts as holding no facets.
  bool open(const std::string& name);
  const std::string& name() const { return name_; }
  const unsigned char* head() const { return head_; }
  // The facet count the head states, and the whole records the file holds
  // after the head (what the readers and the slicer take).
  std::uint32_t headCount() const { return headCount_; }
  std::uint64_t records() const { return records_; }
  StlColours colours() const { return StlColours::of(head_); }

  // The next whole facet; false at the end (a trailing partial record is
  // left out) or when the file could not be read.
  bool next(stlFacet& f);
  // Back to the first facet.
  bool rewind();
  // A read failed (not the end of the file): told once to the operator.
  bool failed() const { return failed_; }
  // "<name>: its head counts N facets, the file holds M" when they differ.
  void noteCountMismatch();

 private:
  HostCore& core_;
  FilePtr file_;
  std::vector<char> buffer_;
  std::string name_;
  unsigned char head_[kStlHeadSize] = {};
  std::uint32_t headCount_ = 0;
  std::uint64_t records_ = 0, read_ = 0;
  bool failed_ = false;
};

// Builds a binary STL that replaces its target only when every byte is
// written, so a failed tool leaves an older file (or an input of the same
// name) as it was.
class StlWriter {
 public:
  StlWriter(HostCore& core, std::string target);
  StlWriter(const StlWriter&) = delete;
  StlWriter& operator=(const StlWriter&) = delete;

  // Creates the temporary file and writes the head; false (told) when it
  // cannot be created.
  bool open(const unsigned char head[kStlHeadSize]);
  void write(const stlFacet& f);
  std::uint32_t count() const { return count_; }
  const std::string& target() const { return target_; }
  // Writes the count at byte 80, closes the file and moves it to the
  // target; false (told, the temporary file removed) when anything failed.
  bool commit();
  // Removes the temporary file.
  void discard();

 private:
  HostCore& core_;
  std::string target_;
  std::vector<char> buffer_;  // the stream's buffer: outlives the file
  plat::AtomicFile file_;
  std::uint32_t count_ = 0;
};

// Whether two names lead to the same existing file.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace ph
