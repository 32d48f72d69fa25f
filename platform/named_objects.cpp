#include "named_objects.h"

#include <cstdlib>

namespace plat {

std::string posixObjectName(const std::string& name) {
  const char* ns = std::getenv("PRISM_NAMESPACE");
  std::string body = (ns ? std::string(ns) : std::string()) + name;
  for (char& c : body)
    if (c == '/' || c == '\\') c = '_';
  // NAME_MAX for a semaphore is 251 after the "sem." prefix.
  if (body.size() > 240) body.resize(240);
  return "/" + body;
}

std::string runtimeDir() {
  const char* d = std::getenv("XDG_RUNTIME_DIR");
  if (d && *d) return d;
  return "/tmp";
}

}  // namespace plat
