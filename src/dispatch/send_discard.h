// The "sendlog" and "dontsend" steps: finalise a report and its dump for the log transport, or delete both.
#pragma once

#include <string>

namespace kx {

void SendReport(const std::string& crashIdentifier);
void DiscardReport(const std::string& crashIdentifier);

}  // namespace kx
