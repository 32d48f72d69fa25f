#pragma once
// Where the bytes of a job go: a .p3d file, or a printer on a serial port.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"

namespace lt {

class JobOutput {
 public:
  virtual ~JobOutput() = default;
  // False once writing failed; error() tells why.
  virtual bool write(std::string_view bytes) = 0;
  // After every page: what was written is on its way.
  virtual bool pageDone() { return true; }
  virtual bool close() = 0;
  virtual const std::string& error() const = 0;
};

// The .p3d file: replaces an old one only once it is written whole, through
// a buffer that goes to the file at every page end.
class FileWriter : public JobOutput {
 public:
  // False (with error()) when the file cannot be created.
  bool open(const std::string& path);
  bool write(std::string_view bytes) override;
  bool pageDone() override;
  bool close() override;
  const std::string& error() const override { return error_; }

 private:
  bool fail(const char* what);
  plat::AtomicFile f_;
  std::string path_, error_;
};

}  // namespace lt
