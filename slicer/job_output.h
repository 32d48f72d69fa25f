#pragma once
// Where the bytes of a job go: a .p3d file, or a printer on a serial port.
#include <cstdio>
#include <string>
#include <string_view>

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

// The .p3d file: created anew (replacing an old one), written through a
// buffer that goes to the file at every page end.
class FileWriter : public JobOutput {
 public:
  ~FileWriter() override;
  // False (with error()) when the file cannot be created.
  bool open(const std::string& path);
  bool write(std::string_view bytes) override;
  bool pageDone() override;
  bool close() override;
  const std::string& error() const override { return error_; }

 private:
  bool fail(const char* what);
  std::FILE* f_ = nullptr;
  std::string path_, error_;
};

}  // namespace lt
