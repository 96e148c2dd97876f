#include "net/tls_floor.h"

namespace kx {
namespace {

// SP_PROT_TLS1_2_SERVER | SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_SERVER | SP_PROT_TLS1_3_CLIENT: a client
// connection reports its client bit, but either side's bit names the same protocol.
constexpr std::uint32_t kAllowedProtocols = 0x400 | 0x800 | 0x1000 | 0x2000;

}  // namespace

bool MeetsTlsFloor(const ConnectionProtocolReport& report) {
  if (!report.answered) {
    return report.error == kInternetInvalidOption || report.error == kInternetIncorrectHandleType;
  }
  return report.secure && (report.protocol & kAllowedProtocols) != 0 &&
         (report.protocol & ~kAllowedProtocols) == 0;
}

}  // namespace kx
