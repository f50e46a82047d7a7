// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 window layer on the real window system (run under Wine in an X server): window
// geometry and classes, labels and the trackbar, the event wait with its deferred queue, the
// slider's one-event-per-movement path, Tab focus movement, the brush cache, the sizing tracker
// and the release at the end.
#include <gtest/gtest.h>

#include "app/app_context.h"
#include "app/winlayer/winlayer.h"

#include "app/winlayer/win32/win32_layer.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

constexpr int32_t MAIN_FLAGS = 0x00C00000 | 0x00080000 | WINDOW_SCREEN_CENTRED;  // 0xC80001
constexpr UINT SENTINEL = WM_APP + 77;

class Win32Layer : public ::testing::Test {
 protected:
  void SetUp() override {
    UseWindowLayer(&Win32WindowLayer);
    InitWindowLayer();
    InitControlLayer();
  }
  void TearDown() override { EndWindowLayer(); }

  HWND OpenMain(int32_t flags = MAIN_FLAGS) {
    auto hwnd = static_cast<HWND>(OpenTopWindow(1, 0, 0, 140, 100, "Tonewell =)", flags));
    UseControlParent(hwnd);
    return hwnd;
  }

  // The main window's styles, hidden: no painting or activation adds events of its own.
  HWND OpenQuiet() { return OpenMain(0x00C00000 | 0x00080000 | WINDOW_HIDDEN); }

  // Every event up to a sentinel message posted now: the events already due, in order.
  std::vector<int32_t> EventsUpToSentinel(HWND hwnd) {
    PostMessageA(hwnd, SENTINEL, 0, 0);
    std::vector<int32_t> codes;
    for (int i = 0; i < 10000; ++i) {
      const int32_t code = WaitEvent();
      if (code == static_cast<int32_t>(SENTINEL)) return codes;
      codes.push_back(code);
    }
    ADD_FAILURE() << "sentinel never came back";
    return codes;
  }

  static int Count(const std::vector<int32_t>& codes, int32_t code) {
    int n = 0;
    for (int32_t c : codes) n += c == code;
    return n;
  }

  static std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
  }

  static std::string TextOf(HWND hwnd) {
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
  }

  static RECT OuterRect(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r;
  }
};

TEST_F(Win32Layer, MainWindowHasItsClassStyleAndClientSizeAndIsCentred) {
  HWND hwnd = OpenMain();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(ClassOf(hwnd), "WindowClass_1");
  EXPECT_EQ(TextOf(hwnd), "Tonewell =)");
  EXPECT_TRUE(IsWindowVisible(hwnd));

  RECT client{};
  GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right - client.left, 140);
  EXPECT_EQ(client.bottom - client.top, 100);

  const LONG_PTR style = GetWindowLongPtrA(hwnd, GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

  // The outer rectangle that AdjustWindowRect gives for that client size, centred.
  RECT outer{0, 0, 140, 100};
  AdjustWindowRect(&outer, WS_CAPTION | WS_SYSMENU, FALSE);
  const int32_t width = outer.right - outer.left, height = outer.bottom - outer.top;
  const RECT placed = OuterRect(hwnd);
  EXPECT_EQ(placed.right - placed.left, width);
  EXPECT_EQ(placed.bottom - placed.top, height);
  EXPECT_EQ(placed.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(placed.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);

  // Its class: double clicks, button-face background, arrow cursor.
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_1", &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_DBLCLKS));
  EXPECT_EQ(info.hbrBackground, reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));
  EXPECT_EQ(info.hCursor, LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
  EXPECT_NE(info.hIcon, nullptr);

  // Marked with its number.
  EXPECT_EQ(WindowNumberOf(hwnd), 1);
}

TEST_F(Win32Layer, WindowNumbersPickTheirOwnClassName) {
  HWND hwnd = static_cast<HWND>(OpenTopWindow(12, 0, 0, 50, 40, "twelve", WINDOW_HIDDEN | WS_CAPTION));
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(ClassOf(hwnd), "WindowClass_12");
  EXPECT_EQ(WindowNumberOf(hwnd), 12);
}

TEST_F(Win32Layer, OnlyTheCentringFlagStillGivesATitleBar) {
  HWND hwnd = static_cast<HWND>(OpenTopWindow(2, 0, 0, 60, 40, "bare", WINDOW_SCREEN_CENTRED | WINDOW_HIDDEN));
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
}

TEST_F(Win32Layer, HiddenFlagIsTakenOutOfTheStyleAndTheWindowStaysHidden) {
  // WINDOW_HIDDEN has the value of WS_VISIBLE: left in the style it would show the window.
  HWND hwnd = static_cast<HWND>(OpenTopWindow(2, 10, 10, 60, 40, "hidden", WS_CAPTION | WINDOW_HIDDEN));
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_FALSE(GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_VISIBLE);
}

TEST_F(Win32Layer, AWindowLargerThanTheScreenIsShrunkToItAndPlacedAtTheOrigin) {
  HWND hwnd = static_cast<HWND>(OpenTopWindow(3, 0, 0, 20000, 20000, "huge", WINDOW_SCREEN_CENTRED | WINDOW_HIDDEN));
  ASSERT_NE(hwnd, nullptr);
  const RECT r = OuterRect(hwnd);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(r.bottom, GetSystemMetrics(SM_CYSCREEN));
}

TEST_F(Win32Layer, GivenPositionIsKeptWithoutCentring) {
  HWND hwnd = static_cast<HWND>(OpenTopWindow(3, 33, 44, 60, 40, "placed", WS_CAPTION | WINDOW_HIDDEN));
  ASSERT_NE(hwnd, nullptr);
  const RECT r = OuterRect(hwnd);
  EXPECT_EQ(r.left, 33);
  EXPECT_EQ(r.top, 44);
}

TEST_F(Win32Layer, DefaultPositionLetsTheSystemPlaceTheWindow) {
  HWND hwnd = static_cast<HWND>(
      OpenTopWindow(3, WINDOW_DEFAULT_POSITION, 5, 60, 40, "default", WS_CAPTION | WINDOW_HIDDEN));
  ASSERT_NE(hwnd, nullptr);
  const RECT r = OuterRect(hwnd);
  EXPECT_NE(r.left, WINDOW_DEFAULT_POSITION);
  EXPECT_GE(r.left, 0);
  EXPECT_GE(r.top, 0);
}

// (The size is above the system's smallest window with a title bar, which it would enforce.)
TEST_F(Win32Layer, ParentCentringUsesTheActiveWindow) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  SetActiveWindow(main);
  ASSERT_EQ(GetActiveWindow(), main);
  const RECT around = OuterRect(main);
  HWND child = static_cast<HWND>(
      OpenTopWindow(4, 0, 0, 200, 80, "centred", WS_CAPTION | WINDOW_PARENT_CENTRED | WINDOW_HIDDEN));
  ASSERT_NE(child, nullptr);
  const RECT r = OuterRect(child);
  EXPECT_EQ(r.left, around.left + (around.right - around.left - (r.right - r.left)) / 2);
  EXPECT_EQ(r.top, around.top + (around.bottom - around.top - (r.bottom - r.top)) / 2);
}

TEST_F(Win32Layer, ReusingAWindowNumberReleasesTheOldWindowFirst) {
  HWND first = static_cast<HWND>(OpenTopWindow(5, 0, 0, 60, 40, "one", WS_CAPTION | WINDOW_HIDDEN));
  HWND second = static_cast<HWND>(OpenTopWindow(5, 0, 0, 60, 40, "two", WS_CAPTION | WINDOW_HIDDEN));
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_TRUE(IsWindow(second));
  EXPECT_EQ(TextOf(second), "two");
}

TEST_F(Win32Layer, NegativeWindowNumberOpensNothing) {
  EXPECT_EQ(OpenTopWindow(-1, 0, 0, 60, 40, "none", WS_CAPTION | WINDOW_HIDDEN), nullptr);
  WNDCLASSA info{};
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_-1", &info));
}

TEST_F(Win32Layer, LabelIsAStaticWithItsNumberAsIdentifierAndTheDefaultGuiFont) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  HWND label = static_cast<HWND>(CreateLabel(1, 10, 10, 110, 20, "Loading..."));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(ClassOf(label), "Static");
  EXPECT_EQ(GetParent(label), main);
  EXPECT_EQ(TextOf(label), "Loading...");
  EXPECT_EQ(GetWindowLongPtrA(label, GWLP_ID), 1);
  const LONG_PTR style = GetWindowLongPtrA(label, GWL_STYLE);
  EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_GROUP), WS_CHILD | WS_VISIBLE | WS_GROUP);
  EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
  EXPECT_FALSE(GetWindowLongPtrA(label, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)), GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(MarkedNumber(label, CONTROL_MARK), 1);
  // The control leads back to its window's number.
  EXPECT_EQ(WindowNumberOf(label), 1);
  RECT r{};
  GetWindowRect(label, &r);
  MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 10);
  EXPECT_EQ(r.right - r.left, 110);
  EXPECT_EQ(r.bottom - r.top, 20);
}

TEST_F(Win32Layer, LabelTextChangesAndUnknownNumbersAreIgnored) {
  OpenMain();
  HWND label = static_cast<HWND>(CreateLabel(2, 10, 30, 110, 14, ""));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(TextOf(label), "");
  SetControlText(2, "A: ---------------");
  EXPECT_EQ(TextOf(label), "A: ---------------");
  SetControlText(2, nullptr);
  EXPECT_EQ(TextOf(label), "");
  // A label has no value.
  SetControlValue(2, 7);
  EXPECT_EQ(GetControlValue(2), 0);
  // Numbers that name nothing.
  SetControlText(42, "nobody");
  SetControlValue(42, 3);
  SetControlValue(-1, 3);
  EXPECT_EQ(GetControlValue(42), 0);
  EXPECT_EQ(GetControlValue(-1), 0);
  EXPECT_EQ(GetControlValue(100000), 0);
  EXPECT_EQ(TextOf(label), "");
}

TEST_F(Win32Layer, LabelWithoutParentFails) {
  UseControlParent(nullptr);
  EXPECT_EQ(CreateLabel(1, 0, 0, 10, 10, "orphan"), nullptr);
  EXPECT_EQ(Layer.Controls.Find(1), nullptr);
}

TEST_F(Win32Layer, ControlProcedureChainsToTheStaticOwnProcedure) {
  OpenMain();
  HWND label = static_cast<HWND>(CreateLabel(1, 10, 10, 110, 20, "chained"));
  ASSERT_NE(label, nullptr);
  const Win32Control* c = Layer.Controls.Find(1);
  ASSERT_NE(c, nullptr);
  EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(label, GWLP_WNDPROC)), c->PreviousProc);
  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(nullptr, "Static", &info));
  EXPECT_EQ(c->PreviousProc, info.lpfnWndProc);
  // WM_GETTEXT reaches the Static's own procedure through the chain.
  char text[32] = {};
  EXPECT_EQ(SendMessageA(label, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 7);
  EXPECT_STREQ(text, "chained");
}

TEST_F(Win32Layer, SliderIsAHorizontalTrackbarWithItsRange) {
  OpenMain();
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, 0, 100));
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(ClassOf(slider), "msctls_trackbar32");
  EXPECT_EQ(GetWindowLongPtrA(slider, GWLP_ID), 5);
  const LONG_PTR style = GetWindowLongPtrA(slider, GWL_STYLE);
  EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_TABSTOP), WS_CHILD | WS_VISIBLE | WS_TABSTOP);
  EXPECT_FALSE(style & TBS_VERT);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 100);
  EXPECT_EQ(GetControlValue(5), 0);
  SetControlValue(5, 85);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 85);
  EXPECT_EQ(GetControlValue(5), 85);
  SetControlValue(5, 0);
  EXPECT_EQ(GetControlValue(5), 0);
  SetControlValue(5, 100);
  EXPECT_EQ(GetControlValue(5), 100);
}

TEST_F(Win32Layer, NegativeSliderBoundsAreSentAsZero) {
  OpenMain();
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, -5, 40));
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 40);
  HWND flat = static_cast<HWND>(CreateSlider(6, 6, 55, 130, 18, -5, -3));
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(SendMessageA(flat, TBM_GETRANGEMIN, 0, 0), 0);
  EXPECT_EQ(SendMessageA(flat, TBM_GETRANGEMAX, 0, 0), 0);
}

TEST_F(Win32Layer, VerticalSliderIsMirroredBothWays) {
  OpenMain();
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 5, 18, 90, 10, 100));
  ASSERT_NE(slider, nullptr);
  SetWindowLongPtrA(slider, GWL_STYLE, GetWindowLongPtrA(slider, GWL_STYLE) | TBS_VERT);
  SetControlValue(5, 30);
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 80);  // 10 + 100 - 30
  EXPECT_EQ(GetControlValue(5), 30);
  SendMessageA(slider, TBM_SETPOS, TRUE, 10);  // the top end
  EXPECT_EQ(GetControlValue(5), 100);
}

TEST_F(Win32Layer, ReusingAControlNumberReleasesTheOldControl) {
  OpenMain();
  HWND first = static_cast<HWND>(CreateLabel(3, 10, 43, 110, 14, "old"));
  HWND second = static_cast<HWND>(CreateSlider(3, 6, 75, 130, 18, 0, 10));
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(MarkedNumber(second, CONTROL_MARK), 3);
  SetControlValue(3, 4);
  EXPECT_EQ(GetControlValue(3), 4);  // the slider's kind, not the label's
}

TEST_F(Win32Layer, DestroyedControlLetsGoOfItsNumber) {
  OpenMain();
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, 0, 100));
  SetControlValue(5, 60);
  ASSERT_EQ(GetControlValue(5), 60);
  DestroyWindow(slider);
  EXPECT_EQ(Layer.Controls.Find(5), nullptr);
  EXPECT_EQ(GetControlValue(5), 0);
}

TEST_F(Win32Layer, ControlTableGrowsToTheNumberPlusFifty) {
  OpenMain();
  ASSERT_NE(CreateLabel(70, 0, 0, 10, 10, "far"), nullptr);
  EXPECT_EQ(Layer.Controls.Capacity(), 120);
  ASSERT_NE(OpenTopWindow(20, 0, 0, 10, 10, "far", WS_CAPTION | WINDOW_HIDDEN), nullptr);
  EXPECT_EQ(Layer.Windows.Capacity(), 36);
}

TEST_F(Win32Layer, EachSliderScrollMessageYieldsExactlyOneControlEvent) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, 0, 100));
  ASSERT_NE(slider, nullptr);
  EventsUpToSentinel(main);  // whatever showing the window produced
  for (int i = 0; i < 3; ++i)
    SendMessageA(main, WM_HSCROLL, MAKEWPARAM(TB_LINEDOWN, 0), reinterpret_cast<LPARAM>(slider));
  const std::vector<int32_t> codes = EventsUpToSentinel(main);
  EXPECT_EQ(Count(codes, EVENT_CONTROL), 3);
  EXPECT_EQ(GetEventControl(), 5);
}

TEST_F(Win32Layer, ArrowKeyOnTheTrackbarMovesItAndReportsTheSlider) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, 0, 100));
  SetControlValue(5, 85);
  EventsUpToSentinel(main);
  SendMessageA(slider, WM_KEYDOWN, VK_RIGHT, 0);
  const std::vector<int32_t> codes = EventsUpToSentinel(main);
  EXPECT_GE(Count(codes, EVENT_CONTROL), 1);
  EXPECT_EQ(GetEventControl(), 5);
  EXPECT_EQ(GetControlValue(5), 86);
}

TEST_F(Win32Layer, SettingTheSliderValueIsNoMovement) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  ASSERT_NE(CreateSlider(5, 6, 75, 130, 18, 0, 100), nullptr);
  EventsUpToSentinel(main);
  SetControlValue(5, 20);
  EXPECT_EQ(Count(EventsUpToSentinel(main), EVENT_CONTROL), 0);
}

TEST_F(Win32Layer, CloseRequestIsDeferredAndTheWindowStays) {
  HWND main = OpenQuiet();
  ASSERT_NE(main, nullptr);
  EventsUpToSentinel(main);
  PostMessageA(main, WM_CLOSE, 0, 0);
  PostMessageA(main, SENTINEL, 0, 0);
  // The dispatch of WM_CLOSE returns its own number; the deferred close follows at once,
  // before the sentinel that is already queued.
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_EQ(Layer.Events.EventWindow, 1);
  EXPECT_EQ(WaitEvent(), static_cast<int32_t>(SENTINEL));
  EXPECT_TRUE(IsWindow(main));
}

TEST_F(Win32Layer, RepeatedMovesCollapseIntoOneDeferredEvent) {
  HWND main = OpenQuiet();
  ASSERT_NE(main, nullptr);
  EventsUpToSentinel(main);
  EXPECT_EQ(SendMessageA(main, WM_MOVE, 0, MAKELPARAM(5, 5)), 0);
  EXPECT_EQ(SendMessageA(main, WM_MOVE, 0, MAKELPARAM(6, 6)), 0);
  EXPECT_EQ(SendMessageA(main, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(SendMessageA(main, WM_MOVE, 0, MAKELPARAM(7, 7)), 0);
  const std::vector<int32_t> codes = EventsUpToSentinel(main);
  EXPECT_EQ(codes, (std::vector<int32_t>{EVENT_MOVE, EVENT_CLOSE, EVENT_MOVE}));
}

TEST_F(Win32Layer, SizeActivateAndEraseAreDeferred) {
  HWND main = OpenQuiet();
  ASSERT_NE(main, nullptr);
  EventsUpToSentinel(main);
  EXPECT_EQ(SendMessageA(main, WM_SIZE, SIZE_RESTORED, MAKELPARAM(140, 100)), 0);
  SendMessageA(main, WM_SIZE, SIZE_MINIMIZED, 0);  // not an event
  EXPECT_EQ(SendMessageA(main, WM_ACTIVATE, WA_INACTIVE, 0), 1);  // not an event
  EXPECT_EQ(SendMessageA(main, WM_ACTIVATE, WA_ACTIVE, 0), 1);
  HDC dc = GetDC(main);
  EXPECT_NE(SendMessageA(main, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
  ReleaseDC(main, dc);
  const std::vector<int32_t> codes = EventsUpToSentinel(main);
  EXPECT_EQ(codes, (std::vector<int32_t>{EVENT_SIZE, EVENT_ACTIVATE, EVENT_REPAINT}));
}

TEST_F(Win32Layer, CommandsFromControlsAndMenus) {
  HWND main = OpenQuiet();
  ASSERT_NE(main, nullptr);
  HWND label = static_cast<HWND>(CreateLabel(4, 10, 56, 110, 14, ""));
  EventsUpToSentinel(main);
  PostMessageA(main, WM_COMMAND, MAKEWPARAM(4, STN_CLICKED + 7), reinterpret_cast<LPARAM>(label));
  EXPECT_EQ(WaitEvent(), EVENT_CONTROL);
  EXPECT_EQ(GetEventControl(), 4);
  EXPECT_EQ(Layer.Events.EventSubType, STN_CLICKED + 7);
  PostMessageA(main, WM_COMMAND, 4242, 0);
  EXPECT_EQ(WaitEvent(), EVENT_MENU);
  EXPECT_EQ(GetEventControl(), 4242);
  // The next wait starts with no sub-type.
  PostMessageA(main, SENTINEL, 0, 0);
  EXPECT_EQ(WaitEvent(), static_cast<int32_t>(SENTINEL));
  EXPECT_EQ(Layer.Events.EventSubType, -1);
}

TEST_F(Win32Layer, OtherMessagesComeBackRawWithTheirParameters) {
  HWND main = OpenQuiet();
  ASSERT_NE(main, nullptr);
  EventsUpToSentinel(main);
  PostMessageA(main, WM_APP + 3, 11, 22);
  EXPECT_EQ(WaitEvent(), static_cast<int32_t>(WM_APP + 3));
  EXPECT_EQ(Layer.Events.WParam, 11);
  EXPECT_EQ(Layer.Events.LParam, 22);
}

TEST_F(Win32Layer, WindowTimerExpiriesComeBackAs275) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(StartWindowTimer(main, 1, 10), 1);
  int32_t code = 0;
  for (int i = 0; i < 1000 && code != EVENT_TIMER; ++i) code = WaitEvent();
  EXPECT_EQ(code, EVENT_TIMER);
  EXPECT_EQ(Layer.Events.WParam, 1);  // the timer's identifier
  StopWindowTimer(main, 1);
  EXPECT_FALSE(KillTimer(main, 1));  // already stopped
  EXPECT_EQ(StartWindowTimer(nullptr, 1, 10), 0);
}

TEST_F(Win32Layer, TabAndShiftTabMoveTheFocusAmongEnabledVisibleTabStops) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  CreateLabel(1, 10, 10, 110, 20, "no tab stop");
  HWND first = static_cast<HWND>(CreateSlider(5, 6, 35, 130, 18, 0, 100));
  HWND second = static_cast<HWND>(CreateSlider(6, 6, 55, 130, 18, 0, 100));
  HWND third = static_cast<HWND>(CreateSlider(7, 6, 75, 130, 18, 0, 100));
  SetActiveWindow(main);
  ASSERT_EQ(GetActiveWindow(), main);
  EventsUpToSentinel(main);
  SetFocus(first);
  ASSERT_EQ(GetFocus(), first);

  auto press = [&](bool shift) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    EventsUpToSentinel(main);
  };
  press(false);
  EXPECT_EQ(GetFocus(), second);
  press(false);
  EXPECT_EQ(GetFocus(), third);
  press(false);
  EXPECT_EQ(GetFocus(), first);  // wraps around
  press(true);
  EXPECT_EQ(GetFocus(), third);  // and back
  EnableWindow(second, FALSE);
  press(true);
  EXPECT_EQ(GetFocus(), first);  // the disabled one is skipped
  ShowWindow(third, SW_HIDE);
  press(false);
  EXPECT_EQ(GetFocus(), first);  // the only one left
  press(false);
  EXPECT_EQ(GetFocus(), first);
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = 0;
  SetKeyboardState(keys);
}

TEST_F(Win32Layer, FocusCommandsAreNotMenuEvents) {
  HWND main = OpenQuiet();
  ASSERT_NE(main, nullptr);
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  EventsUpToSentinel(main);
  PostMessageA(main, WM_COMMAND, MAKEWPARAM(COMMAND_FOCUS_NEXT, 1), 0);
  const std::vector<int32_t> codes = EventsUpToSentinel(main);
  EXPECT_EQ(Count(codes, EVENT_MENU), 0);
  EXPECT_EQ(Count(codes, EVENT_CONTROL), 0);
}

TEST_F(Win32Layer, DefaultColouredLabelsLeaveColoursToDefaultProcessing) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  HWND label = static_cast<HWND>(CreateLabel(1, 10, 10, 110, 20, "plain"));
  HDC dc = GetDC(label);
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(main, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
  ReleaseDC(label, dc);
  EXPECT_NE(brush, nullptr);
  EXPECT_EQ(CachedBrushCount(), 0);
  EXPECT_EQ(GetControlColour(1, 0), NO_COLOUR);
  EXPECT_EQ(GetControlColour(1, 1), NO_COLOUR);
}

TEST_F(Win32Layer, LabelBackgroundBrushesAreSharedAndCountedInTheCache) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  HWND one = static_cast<HWND>(CreateLabel(1, 10, 10, 110, 20, "one"));
  HWND two = static_cast<HWND>(CreateLabel(2, 10, 30, 110, 14, "two"));
  const COLORREF blue = RGB(0, 0, 200), red = RGB(200, 0, 0);
  SetControlColours(1, static_cast<int32_t>(red), static_cast<int32_t>(blue));
  SetControlColours(2, NO_COLOUR, static_cast<int32_t>(blue));
  EXPECT_EQ(CachedBrushCount(), 1);
  EXPECT_EQ(CachedBrushReferences(blue), 2);
  EXPECT_EQ(GetControlColour(1, 0), static_cast<int32_t>(red));

  HDC dc = GetDC(one);
  const auto brush = reinterpret_cast<HBRUSH>(
      SendMessageA(main, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(one)));
  EXPECT_EQ(brush, Layer.Brushes.at(0).Brush);
  EXPECT_EQ(GetTextColor(dc), red);
  EXPECT_EQ(GetBkColor(dc), blue);
  ReleaseDC(one, dc);

  DestroyWindow(two);  // its release gives its share back
  EXPECT_EQ(CachedBrushReferences(blue), 1);
  SetControlColours(1, NO_COLOUR, NO_COLOUR);
  EXPECT_EQ(CachedBrushCount(), 0);
  // Sliders have no colours.
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  SetControlColours(5, static_cast<int32_t>(red), static_cast<int32_t>(red));
  EXPECT_EQ(CachedBrushCount(), 0);
}

TEST_F(Win32Layer, TrackerSizesAResizableWindowWithoutTheModalLoop) {
  BOOL previous = FALSE;
  SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &previous, 0);
  SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, TRUE, nullptr, 0);
  HWND hwnd = static_cast<HWND>(OpenTopWindow(6, 100, 100, 200, 150, "sizable", WS_OVERLAPPEDWINDOW));
  ASSERT_NE(hwnd, nullptr);
  const RECT before = OuterRect(hwnd);
  SetCursorPos(before.right - 2, before.top + 60);
  POINT start{};
  GetCursorPos(&start);
  EXPECT_EQ(SendMessageA(hwnd, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0), 0);
  EXPECT_EQ(Layer.Tracker.Window, hwnd);
  EXPECT_EQ(GetCapture(), hwnd);
  SetCursorPos(start.x + 40, start.y + 25);
  SendMessageA(hwnd, WM_MOUSEMOVE, 0, 0);
  const RECT after = OuterRect(hwnd);
  EXPECT_EQ(after.right - before.right, 40);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.bottom, before.bottom);  // only the right edge was dragged
  SendMessageA(hwnd, WM_LBUTTONUP, 0, 0);
  EXPECT_EQ(Layer.Tracker.Window, nullptr);
  EXPECT_NE(GetCapture(), hwnd);
  SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, previous, nullptr, 0);
}

TEST_F(Win32Layer, TrackerLeavesFixedSizeWindowsToTheSystem) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  LRESULT result = 0;
  EXPECT_FALSE(TrackSizing(main, WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT, 0, &result));
  EXPECT_EQ(Layer.Tracker.Window, nullptr);
}

TEST_F(Win32Layer, EndReleasesWindowsControlsClassesAndAccelerators) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  HWND label = static_cast<HWND>(CreateLabel(1, 10, 10, 110, 20, "x"));
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, 0, 100));
  SetControlColours(1, NO_COLOUR, static_cast<int32_t>(RGB(1, 2, 3)));
  ASSERT_NE(Layer.Windows.Find(1), nullptr);
  EXPECT_NE(Layer.Windows.Find(1)->Accelerators, nullptr);
  EXPECT_EQ(Layer.Windows.Find(1)->AcceleratorEntries[0].cmd, COMMAND_FOCUS_NEXT);
  EXPECT_EQ(Layer.Windows.Find(1)->AcceleratorEntries[1].fVirt, FVIRTKEY | FNOINVERT | FSHIFT);
  EndWindowLayer();
  EXPECT_FALSE(IsWindow(main));
  EXPECT_FALSE(IsWindow(label));
  EXPECT_FALSE(IsWindow(slider));
  WNDCLASSA info{};
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_1", &info));
  EXPECT_EQ(Layer.Windows.Find(1), nullptr);
  EXPECT_EQ(Layer.Controls.Find(1), nullptr);
  EXPECT_EQ(Layer.Controls.Find(5), nullptr);
  EXPECT_EQ(CachedBrushCount(), 0);
  EXPECT_EQ(GetControlValue(5), 0);
}

TEST_F(Win32Layer, TheMainWindowAsThePlayerBuildsIt) {
  HWND main = OpenMain();
  ASSERT_NE(main, nullptr);
  CreateLabel(1, 10, 10, 110, 20, "Loading...");
  CreateLabel(2, 10, 30, 110, 14, "");
  CreateLabel(3, 10, 43, 110, 14, "");
  CreateLabel(4, 10, 56, 110, 14, "");
  HWND slider = static_cast<HWND>(CreateSlider(5, 6, 75, 130, 18, 0, 100));
  SetControlValue(5, 85);
  ASSERT_EQ(StartWindowTimer(main, 1, 50), 1);
  // The first events are taken only now: before that the label still says "Loading...".
  EXPECT_EQ(TextOf(static_cast<HWND>(Layer.Controls.Find(1)->Handle)), "Loading...");
  int32_t code = 0;
  for (int i = 0; i < 1000 && code != EVENT_TIMER; ++i) code = WaitEvent();
  ASSERT_EQ(code, EVENT_TIMER);
  SetControlText(1, "Playing: 0 / 3");
  EXPECT_EQ(TextOf(static_cast<HWND>(Layer.Controls.Find(1)->Handle)), "Playing: 0 / 3");
  EXPECT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 85);
  StopWindowTimer(main, 1);
}

}  // namespace
