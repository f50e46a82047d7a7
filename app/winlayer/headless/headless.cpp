// SPDX-License-Identifier: GPL-2.0-or-later
// The display-less window layer, for a player run as a service, in a pipe or as a background
// job: nothing is drawn and no input is read; windows and controls only keep their texts and
// values; window timers and the close signals SIGINT, SIGTERM and SIGHUP still arrive as
// events.
#include <poll.h>

#include <csignal>
#include <string>

#include "app/winlayer/close_signals.h"
#include "app/winlayer/layer_common.h"
#include "app/winlayer/polled_events.h"

namespace {

constexpr int32_t KIND_LABEL = 1;
constexpr int32_t KIND_SLIDER = 2;

struct HeadlessWindow {
  NativeHandle Handle;
};
struct HeadlessControl {
  NativeHandle Handle;
  int32_t Kind;
  std::string Text;
  int32_t Minimum, Maximum, Value;
};

struct HeadlessLayer {
  NumberedTable<HeadlessWindow> Windows{{}, WINDOW_TABLE_GROWTH};
  NumberedTable<HeadlessControl> Controls{{}, CONTROL_TABLE_GROWTH};
  int32_t TopWindow = NO_WINDOW;  // the window a close request is for: the last one opened
} Layer;

void Init() {
  Layer = HeadlessLayer{};
  ResetPolledEvents();
  StartCloseSignals();
}

void End() { EndPolledLayer(Layer); }

NativeHandle Open(int32_t window, int32_t, int32_t, int32_t, int32_t, const char*, int32_t) {
  HeadlessWindow* w = Layer.Windows.Take(window);
  if (!w) return nullptr;
  *w = HeadlessWindow{HandleOfNumber(window)};
  Layer.TopWindow = window;
  return w->Handle;
}

HeadlessControl* NewControl(int32_t control, int32_t kind) {
  HeadlessControl* c = Layer.Controls.Take(control);
  if (!c) return nullptr;
  *c = HeadlessControl{HandleOfNumber(control), kind, {}, 0, 0, 0};
  return c;
}

NativeHandle Label(int32_t control, int32_t, int32_t, int32_t, int32_t, const char* text) {
  HeadlessControl* c = NewControl(control, KIND_LABEL);
  if (!c) return nullptr;
  c->Text = text;
  return c->Handle;
}

NativeHandle Slider(int32_t control, int32_t, int32_t, int32_t, int32_t, int32_t minimum, int32_t maximum) {
  HeadlessControl* c = NewControl(control, KIND_SLIDER);
  if (!c) return nullptr;
  c->Minimum = minimum < 0 ? 0 : minimum;
  c->Maximum = maximum < 0 ? 0 : maximum;
  c->Value = ClampSliderValue(0, c->Minimum, c->Maximum);
  return c->Handle;
}

void SetText(int32_t control, const char* text) {
  if (HeadlessControl* c = Layer.Controls.Find(control)) c->Text = text;
}

// Labels have no value: setting one does nothing and reading one gives 0.
void SetValue(int32_t control, int32_t value) {
  HeadlessControl* c = Layer.Controls.Find(control);
  if (c && c->Kind == KIND_SLIDER) c->Value = ClampSliderValue(value, c->Minimum, c->Maximum);
}

int32_t GetValue(int32_t control) {
  const HeadlessControl* c = Layer.Controls.Find(control);
  return c && c->Kind == KIND_SLIDER ? c->Value : 0;
}

// No input: a close signal asks to close the top window; sleeps until a signal or the next
// timer deadline, with neither for as long as it takes.
int32_t Wait() {
  static const PolledSources sources = {
      .CloseWindow = [] { return Layer.TopWindow; },
      .Sleep = [](int32_t ms) {
        pollfd wake{CloseSignalFd(), POLLIN, 0};
        ::poll(&wake, wake.fd >= 0 ? 1 : 0, ms);
      },
  };
  return WaitPolledEvent(sources);
}


}  // namespace

const WindowLayerOps HeadlessWindowLayer = {
    .Name = "headless", .InitWindowLayer = Init, .EndWindowLayer = End, .OpenTopWindow = Open,
    .CreateLabel = Label, .CreateSlider = Slider, .SetControlText = SetText, .SetControlValue = SetValue,
    .GetControlValue = GetValue, .WaitEvent = Wait, .GetEventControl = PolledEventControl,
    .StartWindowTimer = PolledStartTimer, .StopWindowTimer = PolledStopTimer,
};
