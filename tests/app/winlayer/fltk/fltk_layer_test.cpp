// SPDX-License-Identifier: GPL-2.0-or-later
// The FLTK window layer in-process, on a real (virtual) X server: numbered windows and controls,
// slider ranges and movements, the deferred events and the window timer. Input is fed through
// FLTK's own dispatch (Fl::handle), the same path that X events take.
// GoogleTest first: Xlib's macros (None, Bool, Status) would break its templates.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xutil.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "app/winlayer/fltk/fltk.h"
#include "app/winlayer/winlayer.h"

namespace {

constexpr int32_t CAPTION_SYSMENU_CENTRED = 0xC80001;
constexpr int32_t CAPTION_SYSMENU = 0xC80000;

Fl_Window* WindowOf(NativeHandle handle) { return static_cast<Fl_Window*>(handle); }
Fl_Slider* SliderOf(int32_t control) { return static_cast<Fl_Slider*>(FltkControlHandle(control)); }

// Feeds one key press to the window as the X event dispatch would.
void PressKey(Fl_Window* window, int key, int state = 0) {
  Fl::e_keysym = key;
  Fl::e_state = state;
  Fl::e_text = const_cast<char*>("");
  Fl::e_length = 0;
  Fl::handle(FL_KEYBOARD, window);
}

// Feeds a mouse event at client position x, y.
void Mouse(Fl_Window* window, int event, int x, int y) {
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = window->x() + x;
  Fl::e_y_root = window->y() + y;
  Fl::e_keysym = FL_Button + FL_LEFT_MOUSE;
  Fl::e_state = event == FL_RELEASE ? 0 : FL_BUTTON1;
  Fl::handle(event, window);
}

// The window manager's close request (WM_DELETE_WINDOW), as FLTK dispatches it.
void AskToClose(Fl_Window* window) { Fl::handle(FL_CLOSE, window); }

// Whether an X window is still shown by FLTK. By X id, since a new Fl_Window may be given the
// address of a deleted one.
bool IsShown(Window xid) {
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (fl_xid(w) == xid) return true;
  return false;
}
bool IsShown(Fl_Window* window) { return IsShown(fl_xid(window)); }

class FltkLayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(FltkWindowLayer.Available()) << "needs an X display"; }
  void SetUp() override {
    UseWindowLayer(&FltkWindowLayer);
    InitWindowLayer();
    InitControlLayer();
  }
  void TearDown() override { EndWindowLayer(); }

  NativeHandle OpenMain() {
    NativeHandle window = OpenTopWindow(1, 0, 0, 140, 100, "Tonewell =)", CAPTION_SYSMENU_CENTRED);
    UseControlParent(window);
    return window;
  }
  // A sentinel: the next event after everything already queued, so that a test can tell that
  // nothing else was queued.
  void ArmSentinelTimer(NativeHandle window) { ASSERT_EQ(StartWindowTimer(window, 7, 20), 7); }

  // The main window's volume slider (control 5) at value, with the keyboard focus when focused
  // and the sentinel armed, and where its knob is.
  struct SliderAtStart {
    Fl_Window* Window;
    Fl_Slider* Slider;
    int KnobX, Y;
  };
  SliderAtStart OpenSlider(int32_t value, bool focused = false) {
    Fl_Window* window = WindowOf(OpenMain());
    CreateSlider(5, 6, 75, 130, 18, 0, 100);
    SetControlValue(5, value);
    Fl_Slider* slider = SliderOf(5);
    if (focused) Fl::focus(slider);
    ArmSentinelTimer(window);
    return {window, slider, slider->x() + slider->w() * value / 100, slider->y() + slider->h() / 2};
  }
};

TEST_F(FltkLayerTest, AvailableOnlyWhereADisplayOpens) {
  const std::string display = std::getenv("DISPLAY");
  ::setenv("DISPLAY", ":4711", 1);  // no server there
  EXPECT_FALSE(FltkWindowLayer.Available());
  ::unsetenv("DISPLAY");
  EXPECT_FALSE(FltkWindowLayer.Available());
  ::setenv("DISPLAY", display.c_str(), 1);
  EXPECT_TRUE(FltkWindowLayer.Available());
}

TEST_F(FltkLayerTest, MainWindowIsShownCentredWithItsClientSizeAndFixed) {
  Fl_Window* window = WindowOf(OpenMain());
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->shown());
  EXPECT_STREQ(window->label(), "Tonewell =)");
  EXPECT_EQ(window->w(), 140);
  EXPECT_EQ(window->h(), 100);
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  // Without a window manager there is no frame: the client area itself is centred.
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(fl_display, fl_xid(window), RootWindow(fl_display, fl_screen), 0, 0, &x, &y, &child);
  EXPECT_EQ(x, (sw - 140) / 2);
  EXPECT_EQ(y, (sh - 100) / 2);
  XSizeHints hints{};
  long supplied = 0;
  ASSERT_TRUE(XGetWMNormalHints(fl_display, fl_xid(window), &hints, &supplied));
  EXPECT_EQ(hints.min_width, 140);
  EXPECT_EQ(hints.max_width, 140);
  EXPECT_EQ(hints.min_height, 100);
  EXPECT_EQ(hints.max_height, 100);
}

// The frame functions and decorations the window asks the window manager for.
std::vector<long> MotifHints(Fl_Window* window) {
  const Atom property = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
  Atom type;
  int format;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<long> out;
  if (XGetWindowProperty(fl_display, fl_xid(window), property, 0, 5, False, AnyPropertyType, &type, &format,
                         &count, &after, &data) == Success && data) {
    const long* words = reinterpret_cast<const long*>(data);
    out.assign(words, words + count);
    XFree(data);
  }
  return out;
}

TEST_F(FltkLayerTest, FrameOffersCloseAndMoveButNoResizeMinimiseOrMaximise) {
  const std::vector<long> hints = MotifHints(WindowOf(OpenMain()));
  ASSERT_EQ(hints.size(), 5u);
  EXPECT_EQ(hints[0], 1 | 2);         // functions and decorations given
  EXPECT_EQ(hints[1], 4 | 32);        // move, close
  EXPECT_EQ(hints[2], 2 | 8 | 16);    // border, title, window menu
}

TEST_F(FltkLayerTest, OnlyTheCentringFlagStillGetsATitleBar) {
  Fl_Window* window = WindowOf(OpenTopWindow(2, 0, 0, 60, 40, "bare", WINDOW_SCREEN_CENTRED));
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->border());
  const std::vector<long> hints = MotifHints(window);
  ASSERT_EQ(hints.size(), 5u);
  EXPECT_TRUE(hints[2] & 8);  // title
}

TEST_F(FltkLayerTest, AWindowLargerThanTheScreenShrinksToItAtTheOrigin) {
  int sx, sy, sw, sh;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  Fl_Window* window = WindowOf(OpenTopWindow(3, 0, 0, sw + 300, sh + 200, "big", CAPTION_SYSMENU_CENTRED));
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->w(), sw);
  EXPECT_EQ(window->h(), sh);
  EXPECT_EQ(window->x(), sx);
  EXPECT_EQ(window->y(), sy);
}

TEST_F(FltkLayerTest, AHiddenWindowIsNotShown) {
  Fl_Window* window = WindowOf(OpenTopWindow(4, 5, 5, 50, 50, "hidden", CAPTION_SYSMENU | WINDOW_HIDDEN));
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->shown());
}

TEST_F(FltkLayerTest, ReusingAWindowNumberReleasesTheOldWindowAndItsControls) {
  Fl_Window* first = WindowOf(OpenMain());
  CreateLabel(1, 10, 10, 110, 20, "old");
  CreateSlider(5, 6, 75, 130, 18, 0, 100);
  SetControlValue(5, 40);
  const Window firstXid = fl_xid(first);
  ASSERT_TRUE(IsShown(firstXid));
  Fl_Window* second = WindowOf(OpenTopWindow(1, 0, 0, 140, 100, "again", CAPTION_SYSMENU_CENTRED));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(FltkWindowHandle(1), second);
  EXPECT_FALSE(IsShown(firstXid));
  // The controls went with their window: their numbers name nothing now.
  EXPECT_EQ(FltkControlHandle(1), nullptr);
  EXPECT_EQ(FltkControlHandle(5), nullptr);
  EXPECT_EQ(GetControlValue(5), 0);
  // The control parent went too: a new control needs a parent again.
  EXPECT_EQ(CreateLabel(1, 10, 10, 110, 20, "x"), nullptr);
  UseControlParent(second);
  EXPECT_NE(CreateLabel(1, 10, 10, 110, 20, "x"), nullptr);
}

TEST_F(FltkLayerTest, ReusingAControlNumberReleasesTheOldControl) {
  Fl_Window* window = WindowOf(OpenMain());
  NativeHandle label = CreateLabel(2, 10, 30, 110, 14, "label");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(window->children(), 1);
  NativeHandle slider = CreateSlider(2, 6, 75, 130, 18, 0, 100);
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(window->children(), 1);  // the label is gone from the window
  EXPECT_EQ(window->child(0), static_cast<Fl_Widget*>(slider));
  EXPECT_EQ(FltkControlHandle(2), slider);
  SetControlValue(2, 30);
  EXPECT_EQ(GetControlValue(2), 30);  // it answers as a slider now
}

TEST_F(FltkLayerTest, TablesGrowByTheirSteps) {
  OpenMain();
  EXPECT_EQ(FltkWindowCapacity(), 17);
  CreateLabel(1, 0, 0, 10, 10, "");
  EXPECT_EQ(FltkControlCapacity(), 51);
  CreateLabel(51, 0, 0, 10, 10, "");
  EXPECT_EQ(FltkControlCapacity(), 101);
  EXPECT_EQ(OpenTopWindow(-1, 0, 0, 10, 10, "negative", CAPTION_SYSMENU), nullptr);
  EXPECT_EQ(CreateLabel(-2, 0, 0, 10, 10, "negative"), nullptr);
}

TEST_F(FltkLayerTest, UnknownNumbersDoNothingAndReadZero) {
  OpenMain();
  CreateLabel(1, 10, 10, 110, 20, "label");
  EXPECT_EQ(GetControlValue(9), 0);      // never created
  EXPECT_EQ(GetControlValue(-1), 0);
  EXPECT_EQ(GetControlValue(5000), 0);   // past the table
  SetControlValue(9, 3);
  SetControlText(9, "nothing");
  SetControlText(-4, "nothing");
  SetControlValue(5000, 1);
  EXPECT_EQ(FltkControlHandle(9), nullptr);
  EXPECT_EQ(FltkControlCapacity(), 51);  // lookups never grow the table
  // A label has no value: setting one does nothing, reading gives 0.
  SetControlValue(1, 12);
  EXPECT_EQ(GetControlValue(1), 0);
  EXPECT_STREQ(static_cast<Fl_Widget*>(FltkControlHandle(1))->label(), "label");
  EXPECT_EQ(StartWindowTimer(nullptr, 1, 50), 0);
  StopWindowTimer(nullptr, 1);
}

TEST_F(FltkLayerTest, SliderRangeTreatsNegativeBoundsAsZeroAndHoldsItsValueInside) {
  OpenMain();
  ASSERT_NE(CreateSlider(5, 6, 75, 130, 18, -5, 10), nullptr);
  EXPECT_EQ(SliderOf(5)->minimum(), 0.0);
  EXPECT_EQ(SliderOf(5)->maximum(), 10.0);
  EXPECT_EQ(GetControlValue(5), 0);
  SetControlValue(5, -3);
  EXPECT_EQ(GetControlValue(5), 0);
  SetControlValue(5, 20);
  EXPECT_EQ(GetControlValue(5), 10);
  SetControlValue(5, 7);
  EXPECT_EQ(GetControlValue(5), 7);

  ASSERT_NE(CreateSlider(6, 6, 50, 130, 18, 20, 40), nullptr);
  EXPECT_EQ(GetControlValue(6), 20);  // created at 0, held at the minimum
  ASSERT_NE(CreateSlider(7, 6, 20, 130, 18, -9, -1), nullptr);
  EXPECT_EQ(SliderOf(7)->maximum(), 0.0);
  SetControlValue(7, 5);
  EXPECT_EQ(GetControlValue(7), 0);
}

TEST_F(FltkLayerTest, EachArrowKeyMovesTheSliderOneStepWithOneEvent) {
  const SliderAtStart at = OpenSlider(85, true);
  const int keys[] = {FL_Right, FL_Right, FL_Left, FL_Left, FL_Left};
  const int32_t expected[] = {86, 87, 86, 85, 84};
  for (int i = 0; i < 5; ++i) {
    PressKey(at.Window, keys[i]);
    EXPECT_EQ(WaitEvent(), EVENT_CONTROL) << i;
    EXPECT_EQ(GetEventControl(), 5);
    EXPECT_EQ(GetControlValue(5), expected[i]);
  }
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);  // no second event for any key
}

TEST_F(FltkLayerTest, KeysAtTheEndOfTheRangeDoNotMoveIt) {
  PressKey(OpenSlider(0, true).Window, FL_Left);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
  EXPECT_EQ(GetControlValue(5), 0);
}

TEST_F(FltkLayerTest, DraggingGivesOneEventPerChangeOfPosition) {
  const SliderAtStart at = OpenSlider(85);
  const int pressX = at.KnobX;
  // Press near the knob, then drag left in steps (one repeated, the last beyond the end),
  // counting the changes of position the slider itself shows.
  int32_t changes = 0, last = 85;
  auto track = [&](int event, int x) {
    Mouse(at.Window, event, x, at.Y);
    const int32_t now = static_cast<int32_t>(at.Slider->value());
    changes += now != last;
    last = now;
  };
  track(FL_PUSH, pressX);
  for (int x : {pressX - 10, pressX - 10, pressX - 40, pressX - 200}) track(FL_DRAG, x);
  track(FL_RELEASE, pressX - 200);
  int32_t events = 0, code;
  while ((code = WaitEvent()) == EVENT_CONTROL) {
    EXPECT_EQ(GetEventControl(), 5);
    ++events;
  }
  EXPECT_EQ(code, EVENT_TIMER);
  EXPECT_EQ(GetControlValue(5), 0);
  EXPECT_GE(changes, 3);
  EXPECT_EQ(events, changes);
}

// A pointer event of button 1 at client position x, y, sent to the window through the X server
// (it arrives in FLTK's event queue like one from the pointer); held: whether the button is down
// when the event happens.
void SendPointer(Fl_Window* window, int type, int x, int y, bool held) {
  XEvent e{};
  e.type = type;
  e.xany.display = fl_display;
  e.xany.window = fl_xid(window);
  // A motion event has these fields at the same places as a button event (is_hint for button).
  XButtonEvent& b = e.xbutton;
  b.root = RootWindow(fl_display, fl_screen);
  b.x = x, b.y = y, b.x_root = window->x() + x, b.y_root = window->y() + y;
  b.state = held ? Button1Mask : 0;
  b.same_screen = True;
  if (type != MotionNotify) b.button = Button1;
  ASSERT_NE(XSendEvent(fl_display, fl_xid(window), False, NoEventMask, &e), 0);
}

// A quick drag as the X server delivers it to a busy program: press on the knob, one motion far
// to the left and the release, all read by FLTK in one go. The knob ends at the release.
TEST_F(FltkLayerTest, AReleaseReadTogetherWithTheLastMotionEndsTheDragThere) {
  const SliderAtStart at = OpenSlider(85);
  SendPointer(at.Window, ButtonPress, at.KnobX, at.Y, false);
  SendPointer(at.Window, MotionNotify, -40, at.Y, true);
  SendPointer(at.Window, ButtonRelease, -40, at.Y, true);
  XSync(fl_display, False);  // all three are in the client's queue before the layer reads any
  EXPECT_EQ(WaitEvent(), EVENT_CONTROL);
  EXPECT_EQ(GetEventControl(), 5);
  EXPECT_EQ(GetControlValue(5), 0);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);  // one movement, one event
  EXPECT_EQ(GetControlValue(5), 0);
}

// The same drag with each event read on its own: the motion moves the knob, the release keeps it.
TEST_F(FltkLayerTest, AReleaseAfterTheLastMotionWasReadKeepsTheKnobThere) {
  const SliderAtStart at = OpenSlider(85);
  const int x = at.Slider->x() + 20;
  SendPointer(at.Window, ButtonPress, at.KnobX, at.Y, false);
  SendPointer(at.Window, MotionNotify, x, at.Y, true);
  XSync(fl_display, False);
  EXPECT_EQ(WaitEvent(), EVENT_CONTROL);
  const int32_t dragged = GetControlValue(5);
  EXPECT_LT(dragged, 85);
  EXPECT_GT(dragged, 0);
  SendPointer(at.Window, ButtonRelease, x, at.Y, true);
  XSync(fl_display, False);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);  // the release itself moves nothing
  EXPECT_EQ(GetControlValue(5), dragged);
}

TEST_F(FltkLayerTest, AClickAwayFromTheKnobMovesItWithOneEvent) {
  const SliderAtStart at = OpenSlider(85);
  Mouse(at.Window, FL_PUSH, at.Slider->x() + 20, at.Y);
  Mouse(at.Window, FL_RELEASE, at.Slider->x() + 20, at.Y);
  EXPECT_EQ(WaitEvent(), EVENT_CONTROL);
  EXPECT_LT(GetControlValue(5), 85);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
}

TEST_F(FltkLayerTest, SettingTheValueFromTheProgramGivesNoEvent) {
  OpenSlider(0);
  SetControlValue(5, 33);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
}

TEST_F(FltkLayerTest, ACloseRequestIsDeferredAndKeepsTheWindow) {
  Fl_Window* window = WindowOf(OpenMain());
  AskToClose(window);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);  // taken without waiting for input
  EXPECT_TRUE(IsShown(window));
  EXPECT_EQ(FltkWindowHandle(1), window);
}

TEST_F(FltkLayerTest, DeferredEventsComeBeforeNewerInput) {
  Fl_Window* window = OpenSlider(0, true).Window;
  PressKey(window, FL_Right);  // a movement first
  AskToClose(window);          // then the close request
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_EQ(WaitEvent(), EVENT_CONTROL);
  EXPECT_EQ(GetEventControl(), 5);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
}

TEST_F(FltkLayerTest, ACloseEqualToTheLastDeferredOneIsDropped) {
  Fl_Window* window = WindowOf(OpenMain());
  Fl_Window* other = WindowOf(OpenTopWindow(2, 0, 0, 50, 50, "other", CAPTION_SYSMENU));
  ArmSentinelTimer(window);
  AskToClose(window);
  AskToClose(window);  // dropped: equal to the last
  AskToClose(other);   // kept: another window
  AskToClose(window);  // kept: no longer the last
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitEvent(), EVENT_CLOSE) << i;
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
}

TEST_F(FltkLayerTest, AltF4AsksToCloseAndEscapeDoesNot) {
  Fl_Window* window = OpenSlider(0, true).Window;
  PressKey(window, FL_Escape);
  EXPECT_EQ(WaitEvent(), EVENT_TIMER);
  PressKey(window, FL_F + 4, FL_ALT);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_TRUE(IsShown(window));
}

TEST_F(FltkLayerTest, TerminationSignalsAreCloseRequests) {
  OpenMain();
  std::raise(SIGTERM);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  std::raise(SIGINT);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
  EXPECT_NE(FltkWindowHandle(1), nullptr);
}

TEST_F(FltkLayerTest, TimerExpiriesComeOutAs275) {
  NativeHandle window = OpenMain();
  ASSERT_EQ(StartWindowTimer(window, 1, 10), 1);
  EXPECT_EQ(WaitEvent(), 275);
  EXPECT_EQ(WaitEvent(), 275);
  StopWindowTimer(window, 1);
}

void CloseLater(void* window) { AskToClose(static_cast<Fl_Window*>(window)); }

TEST_F(FltkLayerTest, AStoppedTimerExpiresNoMore) {
  NativeHandle window = OpenMain();
  StartWindowTimer(window, 1, 5);
  StopWindowTimer(window, 1);
  Fl::add_timeout(0.2, CloseLater, window);  // forty periods later
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
}

TEST_F(FltkLayerTest, ATimerGoesWithItsWindow) {
  NativeHandle first = OpenMain();
  StartWindowTimer(first, 1, 5);
  Fl_Window* second = WindowOf(OpenTopWindow(1, 0, 0, 140, 100, "again", CAPTION_SYSMENU_CENTRED));
  Fl::add_timeout(0.2, CloseLater, second);
  EXPECT_EQ(WaitEvent(), EVENT_CLOSE);
}

// Pixels of a client rectangle that differ from its top-left pixel (the background).
int InkIn(Fl_Window* window, int x, int y, int w, int h) {
  XSync(fl_display, False);
  XImage* image = XGetImage(fl_display, fl_xid(window), x, y, static_cast<unsigned>(w), static_cast<unsigned>(h),
                            AllPlanes, ZPixmap);
  if (!image) return -1;
  const unsigned long background = XGetPixel(image, 0, 0);
  int ink = 0;
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) ink += XGetPixel(image, i, j) != background;
  XDestroyImage(image);
  return ink;
}

TEST_F(FltkLayerTest, LabelTextShowsAtOnceWithoutWaiting) {
  Fl_Window* window = WindowOf(OpenMain());
  CreateLabel(1, 10, 10, 110, 20, "");
  EXPECT_EQ(InkIn(window, 10, 10, 110, 20), 0);
  SetControlText(1, "Loading...");  // no event is taken in between
  EXPECT_GT(InkIn(window, 10, 10, 110, 20), 20);
  EXPECT_STREQ(static_cast<Fl_Widget*>(FltkControlHandle(1))->label(), "Loading...");
  SetControlText(1, "");
  EXPECT_EQ(InkIn(window, 10, 10, 110, 20), 0);
}

TEST_F(FltkLayerTest, LabelFontFitsTheLevelLabelsAndTheLongestStatus) {
  OpenMain();
  Fl_Widget* label = static_cast<Fl_Widget*>(CreateLabel(2, 10, 30, 110, 14, ""));
  fl_font(label->labelfont(), label->labelsize());
  EXPECT_LE(fl_height(), 14);
  EXPECT_GE(fl_height(), 10);  // and is not unreadably small
  // The ink, from the text's origin: what a 110-pixel label must hold.
  for (const char* text : {"A: ---------------", "Playing: 32786 / 32787", "Playing: 0 / 0"}) {
    int dx, dy, w, h;
    fl_text_extents(text, dx, dy, w, h);
    EXPECT_LE(dx + w, 110) << text;
    EXPECT_GT(w, 0) << text;
  }
}

TEST_F(FltkLayerTest, EndReleasesEveryWindow) {
  const Window xid = fl_xid(WindowOf(OpenMain()));
  CreateLabel(1, 10, 10, 110, 20, "x");
  EndWindowLayer();
  EXPECT_FALSE(IsShown(xid));
  EXPECT_EQ(FltkWindowHandle(1), nullptr);
  EXPECT_EQ(FltkControlHandle(1), nullptr);
  EXPECT_EQ(GetControlValue(1), 0);
}

}  // namespace
