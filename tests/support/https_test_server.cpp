#include "support/https_test_server.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/ascii_text.h"
#include "common/hex_text.h"
#include "common/shared_file.h"
#include "common/text_convert.h"
#include "common/text_utils.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

std::string Utf8(const std::wstring& text) { return NarrowToCodePage(text, CP_UTF8); }

// The server's answer files are named by this hash of the request target (see tools/https-test-server).
std::wstring AnswerFileName(const std::string& path) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (unsigned char byte : path) hash = (hash ^ byte) * 0x100000001B3ull;
  std::wstring name;
  AppendHex(name, hash, 16, false);
  return name + L".answer";
}

// "METHOD target HTTP/1.1", the header lines, an empty line, the body.
RecordedRequest ParseRequest(const std::string& data) {
  RecordedRequest request;
  const size_t headEnd = data.find("\r\n\r\n");
  if (headEnd != std::string::npos) request.body = data.substr(headEnd + 4);
  SplitText(data.substr(0, headEnd), "\r\n", request.headerLines);
  if (request.headerLines.empty()) return request;
  std::vector<std::string> words;
  SplitText(request.headerLines.front(), " ", words);
  request.headerLines.erase(request.headerLines.begin());
  if (words.size() > 0) request.method = words[0];
  if (words.size() > 1) request.path = words[1];
  return request;
}

}  // namespace

std::optional<std::string> FindHeader(const RecordedRequest& request, const std::string& name) {
  const auto lower = [](std::string text) {
    LowerAsciiInPlace(text);
    return text;
  };
  for (const std::string& line : request.headerLines) {
    const size_t colon = line.find(':');
    if (colon != std::string::npos && lower(line.substr(0, colon)) == lower(name)) {
      return TrimText(line.substr(colon + 1));
    }
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
  std::error_code error;
  std::filesystem::create_directories(buildTree + L"\\test-servers", error);
  bool made = false;
  for (int attempt = 0; attempt < 1000 && !made && !error; ++attempt) {
    control_ = buildTree + L"\\test-servers\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(counter++);
    made = std::filesystem::create_directory(control_, error);
  }
  if (!made) return "cannot make the control folder " + Utf8(control_) + ": " + error.message();

  // Debian's interpreter, seen through Wine's drive Z:; -I ignores PYTHON* variables and the user's site.
  std::wstring arguments = L"-I " + QuoteWord(UnixPath(ThisProgramFolder() + L"\\https-test-server")) + L" " +
                           QuoteWord(UnixPath(control_));
  if (certificate == TestCertificate::kPlainHttp) {
    arguments += L" --plain";
  } else {
    const wchar_t* const names[] = {L"localhost", L"other-host", L"expired"};  // by TestCertificate
    const std::wstring name = buildTree + L"\\test-pki\\" + names[static_cast<int>(certificate)];
    if (!IsFile(name + L".key")) return "no " + Utf8(name) + ".key: the test needs the test_pki fixture";
    arguments +=
        L" --cert " + QuoteWord(UnixPath(name + L".crt")) + L" --key " + QuoteWord(UnixPath(name + L".key"));
  }
  const std::string notStarted = StartLinuxProgram(L"Z:\\usr\\bin\\python3", arguments);
  if (!notStarted.empty()) return notStarted;

  std::string failure;
  const bool listening = WaitUntil("the test server's port file", std::chrono::seconds(120), [&] {
    const std::optional<std::string> port = ReadFileBytes(control_ + L"\\port");
    if (port && !port->empty()) port_ = static_cast<std::uint16_t>(std::stoi(*port));
    const std::optional<std::string> log = ReadFileBytes(control_ + L"\\server.log");
    if (port_ == 0 && log && !log->empty()) failure = "the server did not start: " + *log;
    return port_ != 0 || !failure.empty();
  });
  if (!listening) return "the server did not listen within 120 s; started with " + Utf8(arguments);
  return failure;
}

HttpsTestServer::~HttpsTestServer() {
  if (control_.empty()) return;
  if (port_ != 0) {
    WriteFileBytes(control_ + L"\\stop", "");
    WaitUntil("the test server to stop", std::chrono::seconds(30),
              [&] { return IsFile(control_ + L"\\stopped"); });
  }
  // A server that has not gone yet ends when it sees its control folder gone.
  std::error_code ignored;
  std::filesystem::remove_all(control_, ignored);
}

void HttpsTestServer::SetAnswer(const std::string& path, const TestAnswer& answer) {
  // By TestAnswer::Kind.
  static const char* const kWords[] = {"answer ", "early ", "cut ", "close", "silent"};
  const bool hasStatus = answer.kind != TestAnswer::Kind::kClose && answer.kind != TestAnswer::Kind::kSilent;
  std::string data = path + "\r\n" + kWords[static_cast<int>(answer.kind)] +
                     (hasStatus ? std::to_string(answer.status) : "") + "\r\n";
  for (const std::string& line : answer.headerLines) {
    if (line.empty() || line.find_first_of("\r\n") != std::string::npos) {
      ADD_FAILURE() << "a header line cannot be empty or hold CR or LF: \"" << line << "\"";
      return;
    }
    if (hasStatus) data += line + "\r\n";
  }
  data += "\r\n" + (hasStatus ? answer.body : "");
  // Renamed into place whole, so that the server never reads half of it.
  const std::wstring file = control_ + L"\\answers\\" + AnswerFileName(path);
  if (const DWORD error = WriteThenMove(file + L".tmp", file, data); error != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot write the answer for " << path << " to " << Utf8(file) << ": error " << error;
  }
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
