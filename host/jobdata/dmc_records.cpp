#include "host/jobdata/dmc_records.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/jobdata/build_time.h"
#include "host/jobdata/dmc_out.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_stream.h"

namespace ph {

namespace {

void putInt(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
std::uint32_t getInt(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
void putText(std::uint8_t* p, int field, const std::string& text) {
  // At most field - 1 characters, so the terminator always fits.
  const std::size_t n = std::min(text.size(), std::size_t(field - 1));
  std::memcpy(p, text.data(), n);
}
std::string getText(const std::uint8_t* p, int field) {
  const auto* end = static_cast<const std::uint8_t*>(std::memchr(p, 0, std::size_t(field)));
  return std::string(reinterpret_cast<const char*>(p), end ? std::size_t(end - p) : std::size_t(field));
}

}  // namespace

std::array<std::uint8_t, kDmcHeaderBytes> DmcHeader::toBytes() const {
  std::array<std::uint8_t, kDmcHeaderBytes> b{};
  putText(b.data(), 240, text);
  putText(b.data() + 240, 80, eachLayCode);
  putText(b.data() + 320, 80, repeatCode);
  const std::int32_t front[] = {layerMicrons, powderPercentage, travelMs,   yvHiMicrons,
                                yvLimMicrons, movespeed,        printspeed, xMarlinBaseMicrons};
  for (int i = 0; i < 8; ++i) putInt(b.data() + 400 + 4 * i, std::uint32_t(front[i]));
  for (int i = 0; i < 10; ++i) putInt(b.data() + 432 + 4 * i, jumpLayers[std::size_t(i)]);
  const std::int32_t back[] = {printpages,   repeatpurge, repeatstretch, stretchSizeLim,
                               behindmargin, djmaxline,   buildRoomSkip, shiftLayer};
  for (int i = 0; i < 8; ++i) putInt(b.data() + 472 + 4 * i, std::uint32_t(back[i]));
  putInt(b.data() + 504, endMark);
  return b;
}

DmcHeader DmcHeader::fromBytes(const std::uint8_t* b) {
  DmcHeader h;
  h.text = getText(b, 240);
  h.eachLayCode = getText(b + 240, 80);
  h.repeatCode = getText(b + 320, 80);
  std::int32_t* front[] = {&h.layerMicrons, &h.powderPercentage, &h.travelMs,   &h.yvHiMicrons,
                           &h.yvLimMicrons, &h.movespeed,        &h.printspeed, &h.xMarlinBaseMicrons};
  for (int i = 0; i < 8; ++i) *front[i] = std::int32_t(getInt(b + 400 + 4 * i));
  for (int i = 0; i < 10; ++i) h.jumpLayers[std::size_t(i)] = getInt(b + 432 + 4 * i);
  std::int32_t* back[] = {&h.printpages,   &h.repeatpurge, &h.repeatstretch, &h.stretchSizeLim,
                          &h.behindmargin, &h.djmaxline,   &h.buildRoomSkip, &h.shiftLayer};
  for (int i = 0; i < 8; ++i) *back[i] = std::int32_t(getInt(b + 472 + 4 * i));
  h.endMark = getInt(b + 504);
  return h;
}

StretchHeaderFields parseStretchHeader(const char* h) {
  StretchHeaderFields f;
  f.text.assign(h + 1, kStretchHeaderBytes - 1);
  f.code = hexTextToInt(f.text.substr(0, 2));
  f.length = 0;
  for (int i = 3; i < 9; ++i) {
    if (h[i] < '0' || h[i] > '9') {
      f.length = -1;
      break;
    }
    f.length = f.length * 10 + (h[i] - '0');
  }
  f.type = h[9];
  return f;
}

bool isStretchType(char c) { return c != '\0' && std::strchr("{}]!(<", c) != nullptr; }

std::string powderCodeText(int code) {
  code = clampInt(code, 0, 560);
  static constexpr char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  return {digits[code / 16], digits[code % 16]};
}

void writeDmcHeader(DmcOut& out, const DmcHeader& header) {
  std::uint8_t head[8] = {'D', 'M', 'C', 0};
  putInt(head + 4, kDmcDataOffset);
  const auto body = header.toBytes();
  if (out.tell() >= kDmcDataOffset) {  // the final header, in front of the records
    out.patch(0, head, 8);
    out.patch(8, body.data(), body.size());
    return;
  }
  out.seek(0);
  out.write(head, 8);
  out.write(body.data(), body.size());
}

int readDmcHeader(std::FILE* file, DmcHeader& printRecord) {
  std::uint8_t magic[4] = {};
  const bool match = std::fread(magic, 1, 4, file) == 4 && std::memcmp(magic, "DMC", 3) == 0;
  std::uint8_t head[4 + kDmcHeaderBytes];
  int offset = 0;
  if (match && std::fread(head, 1, sizeof head, file) == sizeof head) {
    offset = int(getInt(head));
    printRecord = DmcHeader::fromBytes(head + 4);
  }
  std::fseek(file, offset, SEEK_SET);
  return offset;
}

void takeDmcHeader(HostCore& core, JobLayout& layout, const DmcHeader& rec) {
  core.memoPrintf("parsing");
  if (layout.printpages != rec.printpages) core.memoPrintf("printpages:%d <- %d", layout.printpages, rec.printpages);
  if (layout.djmaxline != rec.djmaxline) core.memoPrintf("djmaxline:%d <- %d", layout.djmaxline, rec.djmaxline);
  if (layout.buildRoomSkip != rec.buildRoomSkip)
    core.memoPrintf("buildRoomSkip:%d <- %d", layout.buildRoomSkip, rec.buildRoomSkip);
  layout.printpages = rec.printpages;
  layout.djmaxline = rec.djmaxline;
  layout.buildRoomSkip = rec.buildRoomSkip;
}

StretchCount countDmcStretches(HostCore& core, const JobState& job, bool powderReduced) {
  auto [f, opened] = core.openFile(job.workFileName("dmc"), "rb");
  if (!opened) return {0, 0, opened};
  DmcHeader rec;
  long long pos = readDmcHeader(f.get(), rec);
  // The records are walked through a large buffer: a seek and a read per
  // record cost more than reading past their data.
  P3dReadBuffer in(f.get());
  int skippedCount = 0, count = 0;
  long long len = 1;
  bool prevSkipped = false;
  while (len != 0) {
    char h[kStretchHeaderBytes] = {};
    std::size_t got = 0;
    while (got < sizeof h && in.fill()) {
      const std::size_t k = std::min(sizeof h - got, in.available());
      std::memcpy(h + got, in.data(), k);
      in.advance(k);
      got += k;
    }
    if (got == 0) break;
    const bool cutShort = got < sizeof h;  // the file ends inside the header
    const std::string s(h + 1, 9);
    ++count;
    bool skipped = false;
    if (powderReduced && s.compare(0, 2, "03") == 0 && !cutShort) {
      if (s[8] != '}') {
        skipped = true;
        --count;
        ++skippedCount;
      }
      if (s[8] == '<' && skipped != prevSkipped) {
        count += 2;
        skippedCount -= 2;
      }
    }
    prevSkipped = skipped;
    const std::string digits = s.substr(2, 6);
    len =
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ? std::stoll(digits) : 0;
    // On to pos + len: forward through the buffer, back (a length shorter
    // than a header) by a seek.
    long long skip = len - (long long)got;
    pos += len;
    if (skip < 0) {
      std::fseek(f.get(), long(pos), SEEK_SET);
      in.discard();
      continue;
    }
    while (skip > 0 && in.fill()) {
      const auto k = std::size_t(std::min<long long>(skip, (long long)in.available()));
      in.advance(k);
      skip -= (long long)k;
    }
  }
  return {count, skippedCount, Result::success()};
}

// ---- the record writer ----

void DmcRecordWriter::startConversion(const ConversionSettings& settings) {
  s_ = settings;
  openRecord = -1;
  splitList.clear();
  trailingEmpty_.clear();
  lastFilledRecord = 0;
  layerCount_ = 0;
  lastForwardCode_ = 0;
  lastForwardCodeOffset_ = 0;
  nrfilledstretch = 0;
  maxstretchbytes = 0;
  stretchColumns = 0;
  noPowderAhead = false;
  layerParity = true;
}

void DmcRecordWriter::writeHeader(long long at, const std::string& code, long long length, char type) {
  char h[kStretchHeaderBytes + 8];
  std::snprintf(h, sizeof h, "\xBF%c%c%06d%c", code[0], code[1], int(std::clamp(length, 0LL, 999999LL)), type);
  out_.patch(at, h, kStretchHeaderBytes);
}

void DmcRecordWriter::writeStretchRecord(int kind) {
  const ConversionSettings& s = s_;
  const bool alternating = s.alternating;
  const long long end = out_.tell();
  int c = int(std::clamp<long long>(wholeDotsToMm(stretchColumns), 0, 560));
  if (s.powderReduce) {
    if (c == 3) c = 4;
    if (c == 0 && noPowderAhead) c = 3;
  }
  char type = "}]{"[clampInt(kind + 1, 1, 3) - 1];
  const std::string code = powderCodeText(c);
  highestCode = std::max(highestCode, c);
  out_.write(kPlaceholderHeader, kStretchHeaderBytes);
  const long long next = out_.tell();
  if (!layerParity && s.bridgelayers && type == '{') type = '(';
  if (layout_.job.backwardPass) type = '<';
  if (openRecord >= 0) {
    if (end - openRecord > 14) ++nrfilledstretch;
    maxstretchbytes = std::max(maxstretchbytes, end - openRecord);
  }
  ++layerCount_;
  for (long long piece : splitList) {
    if (openRecord >= 0) writeHeader(openRecord, code, piece - openRecord, '!');
    openRecord = piece;
    trailingEmpty_.clear();
  }
  splitList.clear();
  if (openRecord >= 0) {
    if (!layout_.job.backwardPass) {
      lastForwardCode_ = c;
      lastForwardCodeOffset_ = openRecord + 1;
    }
    const long long length = end - openRecord;
    writeHeader(openRecord, code, length, type);
    if (length <= 13) {
      trailingEmpty_.push_back(openRecord);
    } else {
      trailingEmpty_.clear();
      lastFilledRecord = openRecord;
    }
    // A forward and backward pair is powdered with the larger amount.
    if (layout_.job.backwardPass && c > lastForwardCode_ && lastForwardCodeOffset_ > 0)
      out_.patch(lastForwardCodeOffset_, code.data(), 2);
  }
  out_.seek(next);
  openRecord = end;
  // Empty stretches at a layer's end: at most endskippers of them are dropped.
  const int n = int(trailingEmpty_.size());
  if (!alternating && type == '}' && layerCount_ > 2 && s.endskippers > 0 && lastFilledRecord > 0 && n > 0) {
    const int k = std::max(n - s.endskippers, 0);
    const long long before = k == 0 ? lastFilledRecord : trailingEmpty_[std::size_t(k - 1)];
    const char last = '}';
    out_.patch(before + 9, &last, 1);
    openRecord = trailingEmpty_[std::size_t(k)];
    out_.seek(openRecord + kStretchHeaderBytes);
  }
  if (type == '}') {
    layerCount_ = 0;
    lastFilledRecord = 0;
    trailingEmpty_.clear();
  }
  if (alternating) layout_.job.backwardPass = !layout_.job.backwardPass;
}

void DmcRecordWriter::finishConversion() {
  // After dropped empty stretches the open record still carries an old
  // header with records behind it: the placeholder goes there and the data
  // ends behind it, so a print stops after its last layer.
  if (openRecord < 0) return;
  out_.seek(openRecord);
  out_.write(kPlaceholderHeader, kStretchHeaderBytes);
}

void DmcRecordWriter::powderReduceCheck(int& position, int layer) {
  const ConversionSettings& s = s_;
  const double y = (position - (s.addedStretch + s.prepstretches) * s.band64) * 0.9999 * 254 * (1.0 / 3000) - 3 + 30;
  const int bin = clampInt(int(std::trunc(std::clamp(y, -1e9, 1e9))), 0, 299);
  const float h = float(double(layer) * s.layerMicrons * 0.001 - 0.25);
  auto& powdered = layout_.powderedHeights;
  if (stretchColumns > 10)
    for (int b = bin - 1; b <= bin + 1; ++b) {
      const auto i = std::size_t(clampInt(b, 0, 299));
      powdered[i] = std::max(h, powdered[i]);
    }
  position += s.band64;
  if (!s.powderReduce) return;
  const int last = s.alternating && !layout_.job.backwardPass ? bin + 25 : bin + 17;
  float v = layout_.heightProfile[std::size_t(clampInt(bin + 8, 0, 299))];
  for (int b = bin + 9; b <= last; ++b) v = std::max(v, layout_.heightProfile[std::size_t(clampInt(b, 0, 299))]);
  // A backward pass keeps the decision of its forward partner.
  if (!(layout_.job.backwardPass && s.bidirectional)) noPowderAhead = h > v || core_.dualBoxMode();
}

DmcHeader DmcRecordWriter::fillDmcHeader() const {
  const ConversionSettings& s = s_;
  DmcHeader h;
  h.eachLayCode = s.EachLayCode;
  h.repeatCode = s.repeatcode;
  h.layerMicrons = s.layerMicrons;
  h.powderPercentage = s.powderPercentage;
  h.travelMs = saturatedInt(1000 * moveTime(s.yvHi - layout_.yvLim, s.movespeed, 1000.0));
  h.yvHiMicrons = saturatedInt(1000 * s.yvHi);
  h.yvLimMicrons = saturatedInt(1000 * layout_.yvLim);
  h.movespeed = s.movespeed;
  h.printspeed = s.printspeed;
  h.xMarlinBaseMicrons = saturatedInt(1000 * s.xMarlinBase);
  for (int l = 0; l < std::min(layout_.printpages, 300); ++l)
    if (layout_.newIslands[std::size_t(l)] > 0) h.jumpLayers[std::size_t(l / 32)] |= 1u << (l % 32);
  h.printpages = layout_.printpages;
  h.repeatpurge = s.repeatpurge;
  h.repeatstretch = s.repeatstretch;
  h.stretchSizeLim = s.stretchSizeLim;
  h.behindmargin = s.behindmargin;
  h.djmaxline = layout_.djmaxline;
  h.buildRoomSkip = layout_.buildRoomSkip;
  h.shiftLayer = s.shiftLayer;
  return h;
}

}  // namespace ph
