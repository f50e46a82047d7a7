// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-probe: looks at a running player's main window from another process and prints
// what a person would see, one "key value" line each, for the Wine test script:
//
//   tonewell-probe [TITLE]     (default "Tonewell =)")
//
// Prints "found 0" and returns 1 when no window of class "WindowClass_1" with the title exists.
// Lines: class, title, style, client W H, outer L T R B, screen W H, label<N> TEXT for each
// "Static" child (N = its control identifier), slider_class, slider_range MIN MAX,
// slider_pos P, slider_vertical 0/1.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

namespace {

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  char kind[64] = {};
  GetClassNameA(child, kind, sizeof kind);
  const auto id = static_cast<long>(GetWindowLongPtrA(child, GWLP_ID));
  if (_stricmp(kind, "Static") == 0) {
    char text[256] = {};
    GetWindowTextA(child, text, sizeof text);
    std::printf("label%ld %s\n", id, text);
  } else if (_stricmp(kind, TRACKBAR_CLASSA) == 0) {
    std::printf("slider_class %s\n", kind);
    std::printf("slider_id %ld\n", id);
    std::printf("slider_range %ld %ld\n", static_cast<long>(SendMessageA(child, TBM_GETRANGEMIN, 0, 0)),
                static_cast<long>(SendMessageA(child, TBM_GETRANGEMAX, 0, 0)));
    std::printf("slider_pos %ld\n", static_cast<long>(SendMessageA(child, TBM_GETPOS, 0, 0)));
    std::printf("slider_vertical %d\n", (GetWindowLongPtrA(child, GWL_STYLE) & TBS_VERT) ? 1 : 0);
  } else {
    std::printf("child %s %ld\n", kind, id);
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  const char* title = argc > 1 ? argv[1] : "Tonewell =)";
  HWND window = FindWindowA("WindowClass_1", title);
  std::printf("found %d\n", window ? 1 : 0);
  if (!window) return 1;
  char text[256] = {};
  GetClassNameA(window, text, sizeof text);
  std::printf("class %s\n", text);
  GetWindowTextA(window, text, sizeof text);
  std::printf("title %s\n", text);
  std::printf("style 0x%08lx\n", static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_STYLE)));
  RECT client{}, outer{};
  GetClientRect(window, &client);
  GetWindowRect(window, &outer);
  std::printf("client %ld %ld\n", client.right - client.left, client.bottom - client.top);
  std::printf("outer %ld %ld %ld %ld\n", outer.left, outer.top, outer.right, outer.bottom);
  std::printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  EnumChildWindows(window, PrintChild, 0);
  std::fflush(stdout);
  return 0;
}
