#include "host/mesh/mesh_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "host/core/paths.h"
#include "host/core/texts.h"
#include "platform/regular_file.h"

namespace ph {

bool parseNumber(std::string_view text, double& out) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return false;
  }
  if (text.empty()) return false;
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string_view trimView(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view cutWordView(std::string_view& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::size_t j = i;
  while (j < text.size() && text[j] != ' ' && text[j] != '\t') ++j;
  const std::string_view word = text.substr(i, j - i);
  text.remove_prefix(j);
  return word;
}

std::string extensionOf(const std::string& path) {
  const std::string name = fileNamePart(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : lowerCase(name.substr(dot + 1));
}

std::string coreNameOf(const std::string& path) {
  const std::string name = fileNamePart(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace ph

namespace ph {

std::string regularFileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(nativePath(expandCurrentDir(path)).c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  return "";
}

FilePtr openRegularFile(const std::string& path, std::string& why) {
  why.clear();
  FilePtr f(plat::openRegularFile(nativePath(expandCurrentDir(path)), "rb", why));
  // The mesh tools' own words: "a folder" or "not a regular file".
  if (!f && why == plat::kNotRegularFile) why = regularFileProblem(path);
  return f;
}

LineReader::Result LineReader::next(std::string& line) {
  line.clear();
  bool any = false;
  for (;;) {
    if (pos_ == end_) {
      if (buf_.empty()) buf_.resize(1 << 16);
      end_ = std::fread(buf_.data(), 1, buf_.size(), file_);
      pos_ = 0;
      if (end_ == 0) {
        if (std::ferror(file_)) return Result::Error;
        if (!any) return Result::End;
        break;
      }
    }
    any = true;
    const char* from = buf_.data() + pos_;
    const auto* nl = static_cast<const char*>(std::memchr(from, '\n', end_ - pos_));
    const std::size_t take = nl ? std::size_t(nl - from) : end_ - pos_;
    if (line.size() + take > kMaxLineBytes) {
      ++number_;
      return Result::TooLong;
    }
    line.append(from, take);
    pos_ += take;
    if (nl) {
      ++pos_;
      break;
    }
  }
  ++number_;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (number_ == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  return Result::Line;
}

bool LineReader::open(const std::string& name) {
  name_ = name;
  owned_ = openRegularFile(name, why_);
  file_ = owned_.get();
  return file_ != nullptr;
}

bool LineReader::next(std::string_view& line) {
  if (!file_ || failed()) return false;
  const Result r = next(line_);
  if (r != Result::Line) {
    if (r != Result::End) failed_ = r;
    return false;
  }
  line = line_;
  return true;
}

const char* LineReader::problem(Result r) {
  switch (r) {
    case Result::TooLong: return "longer than 1000000 characters, the limit of a line";
    case Result::Error: return "the file could not be read";
    default: return "";
  }
}

}  // namespace ph
