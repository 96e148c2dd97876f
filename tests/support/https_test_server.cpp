#include "support/https_test_server.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/ascii_text.h"
#include "common/hex_text.h"
#include "common/text_convert.h"
#include "common/text_utils.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

// Debian's interpreter (package python3), seen through Wine's drive Z:, which is "/".
constexpr wchar_t kPython[] = L"Z:\\usr\\bin\\python3";
constexpr DWORD kStartLimitMs = 20000;
constexpr DWORD kStopLimitMs = 5000;
constexpr DWORD kPollMs = 20;

// The server's answer files are named by this hash of the request target (see tools/https-test-server).
std::wstring AnswerFileName(const std::string& path) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char byte : path) hash = (hash ^ byte) * 0x100000001B3ull;
  std::wstring name;
  AppendHex(name, hash, 16, false);
  return name + L".answer";
}

// Written under a temporary name and renamed into place, so that the server never reads half of it.
bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".tmp";
  WriteFileBytes(temporary, bytes);
  return ReadFileBytes(temporary) == bytes &&
         ::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// "METHOD target HTTP/1.1", the header lines, an empty line, the body.
RecordedRequest ParseRequest(const std::string& data) {
  RecordedRequest request;
  const size_t headEnd = data.find("\r\n\r\n");
  if (headEnd != std::string::npos) request.body = data.substr(headEnd + 4);
  splitText(data.substr(0, headEnd), "\r\n", request.headerLines);
  if (request.headerLines.empty()) return request;
  const std::string line = request.headerLines.front();
  request.headerLines.erase(request.headerLines.begin());
  const size_t firstSpace = line.find(' '), lastSpace = line.rfind(' ');
  request.method = line.substr(0, firstSpace);
  const size_t length = lastSpace > firstSpace ? lastSpace - firstSpace - 1 : std::string::npos;
  if (firstSpace != std::string::npos) request.path = line.substr(firstSpace + 1, length);
  return request;
}

}  // namespace

std::optional<std::string> FindHeader(const RecordedRequest& request, const std::string& name) {
  std::string wanted = name;
  LowerAsciiInPlace(wanted);
  for (const std::string& line : request.headerLines) {
    const size_t colon = line.find(':');
    std::string key = line.substr(0, colon);
    LowerAsciiInPlace(key);
    if (colon != std::string::npos && key == wanted) return trimText(line.substr(colon + 1));
  }
  return std::nullopt;
}

HttpsTestServer::HttpsTestServer(TestCertificate certificate) { failure_ = Start(certificate); }

std::string HttpsTestServer::Start(TestCertificate certificate) {
  static std::atomic<int> counter{0};
  const std::wstring buildTree = std::filesystem::path(ThisProgramFolder()).parent_path().wstring();
  // Under the build tree, where the fixture's cleanup finds servers left over. Tests in other Wine prefixes
  // share this folder and may have the same process id, so a name is taken only by making its folder: an
  // existing one may be another test's running server and is never reused or removed.
  const std::wstring servers = buildTree + L"\\test-servers";
  std::error_code error;
  std::filesystem::create_directories(servers, error);
  bool made = false;
  for (int attempt = 0; attempt < 1000 && !made && !error; ++attempt) {
    control_ = servers + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    made = std::filesystem::create_directory(control_, error);
  }
  if (!made) {
    return "cannot make the control folder " + NarrowToCodePage(control_, CP_UTF8) + ": " + error.message();
  }

  const std::wstring script = ThisProgramFolder() + L"\\https-test-server";
  if (!IsFile(script)) return "the server script is missing: " + NarrowToCodePage(script, CP_UTF8);
  if (UnixPath(script).empty()) return "wine_get_unix_file_name is missing: not running under Wine?";
  std::wstring arguments = QuoteWord(UnixPath(script)) + L" " + QuoteWord(UnixPath(control_));
  if (certificate == TestCertificate::kPlainHttp) {
    arguments += L" --plain";
  } else {
    const wchar_t* const names[] = {L"localhost", L"other-host", L"expired"};  // by TestCertificate
    const std::wstring name = buildTree + L"\\test-pki\\" + names[static_cast<int>(certificate)];
    if (!IsFile(name + L".crt") || !IsFile(name + L".key")) {
      return "no test certificate " + NarrowToCodePage(name, CP_UTF8) +
             ".crt/.key: does the test require the test_pki fixture (kx_add_test ... HTTPS)?";
    }
    arguments +=
        L" --cert " + QuoteWord(UnixPath(name + L".crt")) + L" --key " + QuoteWord(UnixPath(name + L".key"));
  }

  // -I: the interpreter ignores PYTHON* variables and the user's site folder.
  const std::wstring commandLine = L"-I " + arguments;
  const std::string notStarted = StartLinuxProgram(kPython, commandLine);
  if (!notStarted.empty()) return notStarted;

  for (DWORD waited = 0; waited < kStartLimitMs; waited += kPollMs) {
    const std::optional<std::string> port = ReadFileBytes(control_ + L"\\port");
    if (port && !port->empty()) {
      port_ = static_cast<std::uint16_t>(std::stoi(*port));
      return "";
    }
    const std::optional<std::string> log = ReadFileBytes(control_ + L"\\server.log");
    if (log && !log->empty()) return "the server did not start: " + *log;
    ::Sleep(kPollMs);
  }
  return "the server did not listen within " + std::to_string(kStartLimitMs / 1000) + " s; started as " +
         NarrowToCodePage(std::wstring(kPython) + L" " + commandLine, CP_UTF8);
}

HttpsTestServer::~HttpsTestServer() {
  if (control_.empty()) return;
  if (port_ != 0) {
    WriteFileBytes(control_ + L"\\stop", "");
    for (DWORD waited = 0; waited < kStopLimitMs && !IsFile(control_ + L"\\stopped"); waited += kPollMs) {
      ::Sleep(kPollMs);
    }
  }
  // A server that has not gone yet ends when it sees its control folder gone.
  std::error_code ignored;
  std::filesystem::remove_all(control_, ignored);
}

void HttpsTestServer::SetAnswer(const std::string& path, const TestAnswer& answer) {
  static const char* const kAnswerWords[] = {"answer ", "early ", "cut "};  // by TestAnswer::Kind
  std::string data = path + "\r\n";
  switch (answer.kind) {
    case TestAnswer::Kind::kAnswer:
    case TestAnswer::Kind::kEarly:
    case TestAnswer::Kind::kCut:
      data += kAnswerWords[static_cast<int>(answer.kind)] + std::to_string(answer.status) + "\r\n";
      for (const std::string& line : answer.headerLines) {
        if (line.empty() || line.find_first_of("\r\n") != std::string::npos) {
          ADD_FAILURE() << "a header line cannot be empty or hold CR or LF: \"" << line << "\"";
          return;
        }
        data += line + "\r\n";
      }
      data += "\r\n" + answer.body;
      break;
    case TestAnswer::Kind::kClose: data += "close\r\n\r\n"; break;
    case TestAnswer::Kind::kSilent: data += "silent\r\n\r\n"; break;
  }
  const std::wstring file = control_ + L"\\answers\\" + AnswerFileName(path);
  if (!WriteWhole(file, data))
    ADD_FAILURE() << "cannot write the answer for " << path << " to " << NarrowToCodePage(file, CP_UTF8);
}

std::vector<RecordedRequest> HttpsTestServer::Requests() const {
  std::vector<RecordedRequest> requests;
  // Numbered from 1 without gaps, each renamed into place whole.
  for (int number = 1;; ++number) {
    wchar_t name[16];
    std::swprintf(name, 16, L"%06d", number);
    const std::wstring path = control_ + L"\\requests\\" + name + L".request";
    const std::optional<std::string> data = ReadFileBytes(path);
    if (!data) return requests;
    requests.push_back(ParseRequest(*data));
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes))
      requests.back().received = (0ULL + attributes.ftLastWriteTime.dwHighDateTime) << 32 |
                                 attributes.ftLastWriteTime.dwLowDateTime;
  }
}

}  // namespace kx::test
