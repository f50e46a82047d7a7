// The display-less window layer, for a player run as a service or in a pipe: nothing is drawn;
// controls only keep their values; timers and close signals still arrive as events.
#include <poll.h>

#include <csignal>
#include <string>

#include "app/winlayer/close_signals.h"
#include "app/winlayer/layer_common.h"
#include "app/winlayer/timer_list.h"

namespace {

struct HeadlessWindow {
  NativeHandle Handle;
};
struct HeadlessControl {
  NativeHandle Handle;
  std::string Text;
  int32_t Minimum, Maximum, Value;
};

struct HeadlessLayer {
  NumberedTable<HeadlessWindow> Windows{{}, WINDOW_TABLE_GROWTH};
  NumberedTable<HeadlessControl> Controls{{}, CONTROL_TABLE_GROWTH};
  EventRecord Events{};
  std::vector<WindowTimer> Timers;
  int32_t Parent = 0;
} Layer;

// Handles are the address of a table slot tag; only their being non-null matters here.
char HandleTags[2];

void Init() {
  Layer = HeadlessLayer{};
  Layer.Events.EventWindow = -1;
  Layer.Events.EventSubType = -1;
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  InstallCloseSignals(signals, 3);
}

void End() {
  Layer.Timers.clear();
  Layer.Windows.Entries.clear();
  Layer.Controls.Entries.clear();
}

NativeHandle Open(int32_t window, int32_t, int32_t, int32_t, int32_t, const char*, int32_t) {
  HeadlessWindow* w = Layer.Windows.Take(window);
  if (!w) return nullptr;
  w->Handle = &HandleTags[0];
  return w->Handle;
}

HeadlessControl* NewControl(int32_t control) {
  HeadlessControl* c = Layer.Controls.Take(control);
  if (!c) return nullptr;
  *c = HeadlessControl{&HandleTags[1], {}, 0, 0, 0};
  return c;
}

NativeHandle Label(int32_t control, int32_t, int32_t, int32_t, int32_t, const char* text) {
  HeadlessControl* c = NewControl(control);
  if (!c) return nullptr;
  c->Text = text;
  return c->Handle;
}

NativeHandle Slider(int32_t control, int32_t, int32_t, int32_t, int32_t, int32_t minimum, int32_t maximum) {
  HeadlessControl* c = NewControl(control);
  if (!c) return nullptr;
  c->Minimum = minimum < 0 ? 0 : minimum;
  c->Maximum = maximum < 0 ? 0 : maximum;
  c->Value = c->Minimum;
  return c->Handle;
}

void SetText(int32_t control, const char* text) {
  if (HeadlessControl* c = Layer.Controls.Find(control)) c->Text = text;
}

void SetValue(int32_t control, int32_t value) {
  HeadlessControl* c = Layer.Controls.Find(control);
  if (!c || c->Maximum < c->Minimum) return;
  c->Value = value < c->Minimum ? c->Minimum : value > c->Maximum ? c->Maximum : value;
}

int32_t GetValue(int32_t control) {
  HeadlessControl* c = Layer.Controls.Find(control);
  return c ? c->Value : 0;
}

int32_t Wait() {
  EventRecord& events = Layer.Events;
  events.EventSubType = -1;
  int32_t code = 0;
  if (TakeDeferredEvent(events, &code)) return code;
  for (;;) {
    if (TakeCloseSignal()) {
      events.EventWindow = 1;
      return EVENT_CLOSE;
    }
    if (TakeExpiredTimer(Layer.Timers, TimerClock::now())) return EVENT_TIMER;
    pollfd wake{CloseSignalFd(), POLLIN, 0};
    ::poll(&wake, wake.fd >= 0 ? 1 : 0, MsUntilNextTimer(Layer.Timers, TimerClock::now()));
  }
}

int32_t EventControl() { return Layer.Events.EventControl; }

int32_t StartTimer(NativeHandle window, int32_t id, int32_t periodMs) {
  return StartListedTimer(Layer.Timers, window, id, periodMs);
}

void StopTimer(NativeHandle window, int32_t id) { StopListedTimer(Layer.Timers, window, id); }

}  // namespace

const WindowLayerOps HeadlessWindowLayer = {
    "headless", nullptr,  Init,     nullptr,  End,       Open,         nullptr,    Label,      Slider,
    SetText,    SetValue, GetValue, Wait,     EventControl, StartTimer, StopTimer,
};
