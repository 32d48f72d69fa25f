#include "host/components/comm_device_names.h"

#include <cctype>

#include "platform/format.h"

namespace ph {

int comPortNumber(const std::string& name) {
  std::string s = name;
  if (s.size() >= 4 && (s[0] == '\\' || s[0] == '/') && (s[1] == '\\' || s[1] == '/') && s[2] == '.' &&
      (s[3] == '\\' || s[3] == '/'))
    s = s.substr(4);
  if (s.size() < 4 || s.size() > 6) return 0;
  if (std::toupper(static_cast<unsigned char>(s[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(s[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(s[2])) != 'M')
    return 0;
  int n = 0;
  for (size_t i = 3; i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return 0;
    n = n * 10 + (s[i] - '0');
  }
  return n;
}

void CommDeviceNames::map(int n, const std::string& path) {
  std::lock_guard<std::mutex> lk(m_);
  table_[n] = path;
}

void CommDeviceNames::clear() {
  std::lock_guard<std::mutex> lk(m_);
  table_.clear();
}

std::string CommDeviceNames::resolve(const std::string& name) const {
  int n = comPortNumber(name);
  if (n <= 0) return name;
  std::lock_guard<std::mutex> lk(m_);
  auto it = table_.find(n);
  if (it != table_.end()) return it->second;
  return plat::format("/dev/ttyS%d", n - 1);
}

CommDeviceNames& commDeviceNames() {
  static CommDeviceNames names;
  return names;
}

}  // namespace ph
