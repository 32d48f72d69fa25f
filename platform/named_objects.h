#pragma once
// Names of objects shared between processes (events, mappings, lock files).
#include <string>

namespace plat {

// "/" followed by the name with "/" and "\" replaced by "_", so a host and a
// slicer given the same name meet on the same object. The prefix from the
// environment variable PRISM_NAMESPACE (empty when unset) is put in front of
// the name; tests use it to keep their objects apart from a running system.
std::string posixObjectName(const std::string& name);

// Folder for lock files: /dev/shm (else /tmp).
std::string runtimeDir();

}  // namespace plat
