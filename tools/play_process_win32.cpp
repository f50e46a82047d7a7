// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-play's process pieces on Windows: GetModuleFileNameW, a fresh folder under
// GetTempPathW, CreateProcessW and a console control handler that asks the running child to
// close (WM_CLOSE to its windows, or TerminateProcess when it has none).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "tools/play_process.h"

namespace {

std::atomic<HANDLE> ChildProcess{nullptr};
std::atomic<DWORD> ChildId{0};
std::atomic<int> EndCode{0};
// Set by the main thread once the child has ended and its folder is gone: a console that is
// being closed waits for it before the system ends this process.
HANDLE ChildGone = nullptr;

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string SystemError(const std::string& what, DWORD code) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string message = text;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return what + ": " + message;
}

// One argument as CommandLineToArgvW reads it back.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
  if (!line->empty()) *line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    *line += arg;
    return;
  }
  *line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') line->append(2 * backslashes + 1, L'\\');
    else line->append(backslashes, L'\\');
    backslashes = 0;
    *line += c;
  }
  line->append(2 * backslashes, L'\\');
  *line += L'"';
}

struct CloseSearch {
  DWORD Id;
  bool Found;
};

BOOL CALLBACK PostCloseTo(HWND window, LPARAM data) {
  CloseSearch* search = reinterpret_cast<CloseSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->Id && IsWindowVisible(window)) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    search->Found = true;
  }
  return TRUE;
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
  EndCode = 128 + (event == CTRL_C_EVENT ? 2 : event == CTRL_BREAK_EVENT ? 21 : 1);
  HANDLE child = ChildProcess;
  if (child) {
    CloseSearch search{ChildId, false};
    EnumWindows(PostCloseTo, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) TerminateProcess(child, static_cast<UINT>(EndCode.load()));
  }
  // Closing the console ends this process when the handler returns: wait (bounded by the
  // system's own limit) until the folder has been removed.
  if (event == CTRL_CLOSE_EVENT && ChildGone) WaitForSingleObject(ChildGone, 4000);
  return TRUE;
}

}  // namespace

std::filesystem::path ExecutableFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return std::filesystem::path(buffer).parent_path();
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path MakePrivateFolder(std::string* error) {
  wchar_t base[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) {
    *error = SystemError("cannot find the temporary directory", GetLastError());
    return {};
  }
  // The user's temporary directory is private to the user; the folder inherits its access.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    wchar_t name[64];
    swprintf(name, 64, L"tonewell-play-%08lx%04x", GetTickCount() ^ (GetCurrentProcessId() << 8), attempt);
    std::filesystem::path folder = std::filesystem::path(base) / name;
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = SystemError("cannot make a temporary folder " + folder.string(), GetLastError());
      return {};
    }
  }
  *error = "cannot make a temporary folder: every name taken";
  return {};
}

void CatchEndRequests() {
  ChildGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int EndRequest() { return EndCode; }

int RunToEnd(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& folder, std::string* error) {
  std::wstring line;
  AppendQuoted(&line, program.wstring());
  for (size_t i = 1; i < args.size(); ++i) AppendQuoted(&line, Wide(args[i]));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (ChildGone) ResetEvent(ChildGone);
  if (EndCode) return EndCode;  // asked to end before the program started: it is not started
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    *error = SystemError("cannot run " + program.string(), GetLastError());
    return -1;
  }
  CloseHandle(process.hThread);
  ChildId = process.dwProcessId;
  ChildProcess = process.hProcess;
  // A request that came while the child was being created: pass it on now.
  if (EndCode) {
    CloseSearch search{ChildId, false};
    EnumWindows(PostCloseTo, reinterpret_cast<LPARAM>(&search));
    if (!search.Found) TerminateProcess(process.hProcess, static_cast<UINT>(EndCode.load()));
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  ChildProcess = nullptr;
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  // Exit codes above 255 (an unhandled exception's status) are reported as 255.
  return code <= 255 ? static_cast<int>(code) : 255;
}

void FolderGone() {
  if (ChildGone) SetEvent(ChildGone);
}
