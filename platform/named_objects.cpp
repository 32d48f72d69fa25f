#include "named_objects.h"

#include <sys/stat.h>

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
  // Beside the named semaphores and shared memory: one namespace for all
  // named objects, whatever the environment of each process says.
  struct stat st {};
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) return "/dev/shm";
  return "/tmp";
}

}  // namespace plat
