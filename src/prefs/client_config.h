// The client configuration: key/value lines of "kx_win_client_config.cfg" in the client directory, which let an
// installation point the service at other servers and ports. This file holds the line rules and the port rule;
// client_config_file.h reads the file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "prefs/server_defaults.h"

namespace kx {

// Lower-case key -> value (case kept). Narrow text in the ANSI code page; keys compare as byte strings.
using ClientConfig = std::map<std::string, std::string>;

inline constexpr wchar_t kClientConfigFileName[] = L"kx_win_client_config.cfg";

inline constexpr char kPreferencesServerUrlKey[] = "kxkxs-url";
inline constexpr char kPreferencesServerPortKey[] = "kxkxs-port";
inline constexpr char kSolutionServerUrlKey[] = "kxcn-url";
inline constexpr char kSolutionServerPortKey[] = "kxcn-port";
inline constexpr char kIngestServerUrlKey[] = "kxingest-url";
inline constexpr char kIngestServerPortKey[] = "kxingest-port";
inline constexpr char kUploadServerUrlKey[] = "kxupload-url";
inline constexpr char kUploadServerPortKey[] = "kxupload-port";

// The servers used when the configuration names none (kBuiltInPreferencesServerUrl,
// kBuiltInSolutionServerUrl) are build settings, in the generated header below.

inline constexpr std::uint16_t kDefaultServerPort = 443;

// Only this many bytes of a line are looked at; the rest of the line is ignored.
inline constexpr size_t kClientConfigLineLimit = 1023;

// Builds a ClientConfig from the file's bytes as text-mode reading gives them (CR LF already reduced to LF),
// fed in pieces of any size. Keeps at most one line's first kClientConfigLineLimit bytes in memory.
//
// Line rules: the line (its first kClientConfigLineLimit bytes, up to a zero byte) is cut into tokens at "=",
// runs of "=" counting as one separator and no empty token at either end. Tokens alternate key, value, key, ...
// Each is trimmed of "C"-locale white space; an empty trimmed token ends the line's handling. Each complete
// key/value pair is stored with the key lower-cased (A-Z), replacing an earlier value of that key.
class ClientConfigReader {
 public:
  void Feed(std::string_view bytes);
  // Handles a last line without LF and hands out the configuration.
  ClientConfig Finish();

 private:
  void EndLine();

  ClientConfig config_;
  std::string line_;  // the current line's first bytes, up to the limit
};

// The whole text at once.
ClientConfig ParseClientConfig(std::string_view bytes);

// The port configured under `key`: kDefaultServerPort when the key is absent or its value empty. Otherwise the
// value is read as atoi does (leading white space, optional sign, decimal digits up to the first other byte);
// text without digits and any number outside 0..65535 give 0, a port no connection succeeds on.
std::uint16_t ConfiguredPort(const ClientConfig& config, std::string_view key);

}  // namespace kx
