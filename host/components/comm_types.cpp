#include "host/components/comm_types.h"

#include "platform/format.h"

namespace ph {

std::string commErrorText(CommErrorKind kind, int code) {
  switch (kind) {
    case CommErrorKind::AlreadyOpen: return plat::format("Port already assigned (open) (Error: %d)", code);
    case CommErrorKind::Buffers: return plat::format("Error initializing Read/Write Buffers (Error: %d)", code);
    case CommErrorKind::DataControlBlock: return plat::format("Error updating DataControlBlock (Error: %d)", code);
    case CommErrorKind::Timeouts: return plat::format("Error updating CommTimeouts (Error: %d)", code);
    case CommErrorKind::NotOpen: return plat::format("Port not open (Error: %d)", code);
    case CommErrorKind::Escape: return plat::format("EscapeCommFunction failure (Error: %d)", code);
  }
  return plat::format("(Error: %d)", code);
}

CommError::CommError(CommErrorKind kind, int code)
    : std::runtime_error(commErrorText(kind, code)), kind_(kind), code_(code) {}

}  // namespace ph
