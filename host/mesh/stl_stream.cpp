#include "host/mesh/stl_stream.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/core/paths.h"
#include "platform/regular_file.h"

namespace ph {

namespace {
constexpr std::size_t kBufferBytes = 1 << 20;

std::uint16_t swapRedBlue(std::uint16_t a) {
  return std::uint16_t((a & 0x3E0) | (a & 0x1F) << 10 | (a & 0x7C00) >> 10);
}
}  // namespace

// ---- colours ----

StlColours StlColours::of(const unsigned char head[kStlHeadSize]) {
  static const char key[] = "COLOR=";
  StlColours c;
  // The colour bytes of a key at the end of the 80 bytes reach into the
  // count, as the slicer reads them.
  for (std::size_t i = 0; i + 6 <= 80; ++i) {
    if (std::memcmp(head + i, key, 6) != 0) continue;
    const unsigned char* rgb = head + i + 6;
    c.headerColour = true;
    c.headerDefault = std::uint16_t((rgb[0] >> 3) << 10 | (rgb[1] >> 3) << 5 | (rgb[2] >> 3));
  }
  return c;
}

std::uint16_t StlColours::toStandard(std::uint16_t a) const {
  if (!headerColour) return a;
  if (a & 0x8000) return std::uint16_t(headerDefault | 0x8000);
  return std::uint16_t(swapRedBlue(a) | 0x8000);
}

std::uint16_t StlColours::fromStandard(std::uint16_t s) const {
  if (!headerColour) return s;
  if (s & 0x8000) return swapRedBlue(s);
  return 0x8000;
}

vect3 facetNormal(const stlFacet& f) {
  const vect3 n = vect3FromFloats(f.normal);
  if (n.x != 0.0 || n.y != 0.0 || n.z != 0.0) return n;
  return facetNormalOf(vect3FromFloats(f.corner[0]), vect3FromFloats(f.corner[1]), vect3FromFloats(f.corner[2]));
}

bool finiteCorners(const stlFacet& f) {
  for (const auto& c : f.corner)
    for (float v : c)
      if (!std::isfinite(v)) return false;
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (stat(nativePath(expandCurrentDir(a)).c_str(), &sa) != 0) return false;
  if (stat(nativePath(expandCurrentDir(b)).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- reader ----

bool StlReader::open(const std::string& name) {
  name_ = name;
  failed_ = false;
  read_ = records_ = 0;
  headCount_ = 0;
  std::memset(head_, 0, sizeof head_);
  file_ = core_.openFile(name, "rb").file;
  if (!file_) return false;
  struct stat st {};
  if (fstat(fileno(file_.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
    file_.reset();
    core_.ui.showMessage("cannot read from file: " + name + " (not a file)");
    return false;
  }
  buffer_.resize(kBufferBytes);
  std::setvbuf(file_.get(), buffer_.data(), _IOFBF, buffer_.size());
  const long long size = st.st_size;
  if (size >= kStlHeadSize && std::fread(head_, 1, kStlHeadSize, file_.get()) == std::size_t(kStlHeadSize)) {
    headCount_ = std::uint32_t(head_[80]) | std::uint32_t(head_[81]) << 8 | std::uint32_t(head_[82]) << 16 |
                 std::uint32_t(head_[83]) << 24;
    records_ = std::uint64_t(size - kStlHeadSize) / kStlFacetSize;
  }
  return true;
}

bool StlReader::next(stlFacet& f) {
  if (!file_ || read_ >= records_) return false;
  unsigned char bytes[kStlFacetSize];
  if (std::fread(bytes, 1, sizeof bytes, file_.get()) != sizeof bytes) {
    // The file got shorter while it was read, or the device failed.
    if (!failed_) core_.memoPrintf("cannot read from file: %s (it ends after %llu facets)", name_,
                                   static_cast<unsigned long long>(read_));
    failed_ = true;
    records_ = read_;
    return false;
  }
  f = stlFacetFromBytes(bytes);
  ++read_;
  return true;
}

bool StlReader::rewind() {
  if (!file_) return false;
  read_ = 0;
  return std::fseek(file_.get(), kStlHeadSize, SEEK_SET) == 0;
}

void StlReader::noteCountMismatch() {
  if (records_ != headCount_)
    core_.memoPrintf("%s: its head counts %u facets, the file holds %llu", name_, unsigned(headCount_),
                     static_cast<unsigned long long>(records_));
}

// ---- writer ----

StlWriter::StlWriter(HostCore& core, std::string target) : core_(core), target_(std::move(target)) {}

bool StlWriter::open(const unsigned char head[kStlHeadSize]) {
  std::string why;
  if (!file_.open(nativePath(expandCurrentDir(target_)), why)) {
    // Told as openFile tells a file it cannot make.
    core_.ui.showMessage("unable to write to file: " +
                         (why == plat::kNotRegularFile ? target_ + " (" + why + ")" : target_));
    return false;
  }
  buffer_.resize(kBufferBytes);
  std::setvbuf(file_.stream(), buffer_.data(), _IOFBF, buffer_.size());
  count_ = 0;
  file_.append(head, kStlHeadSize);
  return true;
}

void StlWriter::write(const stlFacet& f) {
  if (!file_.isOpen()) return;
  unsigned char bytes[kStlFacetSize];
  stlFacetToBytes(f, bytes);
  file_.append(bytes, sizeof bytes);
  ++count_;
}

bool StlWriter::commit() {
  if (!file_.isOpen()) return false;
  unsigned char count[4];
  for (int i = 0; i < 4; ++i) count[i] = static_cast<unsigned char>(count_ >> (8 * i));
  bool placed = std::fseek(file_.stream(), 80, SEEK_SET) == 0 && file_.append(count, 4);
  std::string why;
  if (placed) placed = file_.commit(why);
  if (!placed) {
    core_.memoPrintf("unable to write to file: %s", target_);
    file_.discard();
    return false;
  }
  return true;
}

void StlWriter::discard() { file_.discard(); }

}  // namespace ph
