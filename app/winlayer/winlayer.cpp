// SPDX-License-Identifier: GPL-2.0-or-later
// Backend choice and the do-nothing defaults for operations a backend lacks.
#include "app/winlayer/winlayer.h"

#include "platform/process.h"

namespace {

bool Always() { return true; }
void Nothing() {}
NativeHandle NoWindow(int32_t, int32_t, int32_t, int32_t, int32_t, const char*, int32_t) { return nullptr; }
NativeHandle SameParent(NativeHandle window) { return window; }
NativeHandle NoLabel(int32_t, int32_t, int32_t, int32_t, int32_t, const char*) { return nullptr; }
NativeHandle NoSlider(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) { return nullptr; }
void NoText(int32_t, const char*) {}
void NoValue(int32_t, int32_t) {}
int32_t ZeroValue(int32_t) { return 0; }
int32_t CloseAtOnce() { return EVENT_CLOSE; }  // a layer that cannot wait lets the program end
int32_t NoControl() { return 0; }
int32_t NoTimer(NativeHandle, int32_t, int32_t) { return 0; }
void NoTimerStop(NativeHandle, int32_t) {}
bool NoCloseRequest() { return false; }

const WindowLayerOps* const Candidates[] = {
#if defined(_WIN32)
    &Win32WindowLayer,
#endif
#if defined(TONEWELL_HAVE_FLTK)
    &FltkWindowLayer,
#endif
#if defined(TONEWELL_HAVE_CURSES)
    &TerminalWindowLayer,
#endif
#if !defined(_WIN32)
    &HeadlessWindowLayer,
#endif
};

WindowLayerOps Current;
bool Chosen = false;
DisplayLostRoutine OnDisplayLost = nullptr;

}  // namespace

const WindowLayerOps* UseWindowLayer(const WindowLayerOps* ops) {
  Current = ops ? *ops : WindowLayerOps{};
  WindowLayerOps& c = Current;
  if (!c.Name) c.Name = "none";
  if (!c.Available) c.Available = Always;
  if (!c.InitWindowLayer) c.InitWindowLayer = Nothing;
  if (!c.InitControlLayer) c.InitControlLayer = Nothing;
  if (!c.EndWindowLayer) c.EndWindowLayer = Nothing;
  if (!c.OpenTopWindow) c.OpenTopWindow = NoWindow;
  if (!c.UseControlParent) c.UseControlParent = SameParent;
  if (!c.CreateLabel) c.CreateLabel = NoLabel;
  if (!c.CreateSlider) c.CreateSlider = NoSlider;
  if (!c.SetControlText) c.SetControlText = NoText;
  if (!c.SetControlValue) c.SetControlValue = NoValue;
  if (!c.GetControlValue) c.GetControlValue = ZeroValue;
  if (!c.WaitEvent) c.WaitEvent = CloseAtOnce;
  if (!c.GetEventControl) c.GetEventControl = NoControl;
  if (!c.StartWindowTimer) c.StartWindowTimer = NoTimer;
  if (!c.StopWindowTimer) c.StopWindowTimer = NoTimerStop;
  if (!c.CloseRequested) c.CloseRequested = NoCloseRequest;
  Chosen = true;
  return &Current;
}

const WindowLayerOps* SelectWindowLayer() {
  for (const WindowLayerOps* ops : Candidates)
    if (!ops->Available || ops->Available()) return UseWindowLayer(ops);
  return UseWindowLayer(nullptr);
}

const WindowLayerOps* CurrentWindowLayer() { return Chosen ? &Current : SelectWindowLayer(); }

void InitWindowLayer() { CurrentWindowLayer()->InitWindowLayer(); }
void InitControlLayer() { CurrentWindowLayer()->InitControlLayer(); }
void EndWindowLayer() { CurrentWindowLayer()->EndWindowLayer(); }
NativeHandle OpenTopWindow(int32_t window, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* title, int32_t flags) {
  return CurrentWindowLayer()->OpenTopWindow(window, x, y, width, height, title ? title : "", flags);
}
NativeHandle UseControlParent(NativeHandle window) { return CurrentWindowLayer()->UseControlParent(window); }
NativeHandle CreateLabel(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height, const char* text) {
  return CurrentWindowLayer()->CreateLabel(control, x, y, width, height, text ? text : "");
}
NativeHandle CreateSlider(int32_t control, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t minimum, int32_t maximum) {
  return CurrentWindowLayer()->CreateSlider(control, x, y, width, height, minimum, maximum);
}
void SetControlText(int32_t control, const char* text) { CurrentWindowLayer()->SetControlText(control, text ? text : ""); }
void SetControlValue(int32_t control, int32_t value) { CurrentWindowLayer()->SetControlValue(control, value); }
int32_t GetControlValue(int32_t control) { return CurrentWindowLayer()->GetControlValue(control); }
int32_t WaitEvent() { return CurrentWindowLayer()->WaitEvent(); }
int32_t GetEventControl() { return CurrentWindowLayer()->GetEventControl(); }
int32_t StartWindowTimer(NativeHandle window, int32_t id, int32_t periodMs) {
  return CurrentWindowLayer()->StartWindowTimer(window, id, periodMs);
}
void StopWindowTimer(NativeHandle window, int32_t id) { CurrentWindowLayer()->StopWindowTimer(window, id); }
bool CloseRequested() { return CurrentWindowLayer()->CloseRequested(); }

void SetDisplayLostRoutine(DisplayLostRoutine routine) { OnDisplayLost = routine; }

void EndAfterDisplayLost() {
  if (OnDisplayLost) OnDisplayLost();
  EndProcess(0);
}
