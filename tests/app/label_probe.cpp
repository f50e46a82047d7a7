// SPDX-License-Identifier: GPL-2.0-or-later
// tonewell-label-probe: shows reference labels through the FLTK window layer, so that a test can
// compare the player's labels pixel for pixel with known texts drawn by the same code on the
// same X server.
//
//   tonewell-label-probe HEIGHT:TEXT...
//
// Opens the window "Tonewell probe" at 0, 0 with one label of LABEL_WIDTH x HEIGHT per argument,
// in columns. Prints "x y w h" of each label (client coordinates), then "ready" once everything
// is on the screen, and runs until a close request (SIGTERM, SIGINT or the window's close).
#include <FL/Fl.H>
#include <FL/x.H>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/winlayer/winlayer.h"

namespace {

constexpr int32_t LABEL_X = 10;
constexpr int32_t LABEL_WIDTH = 110;
constexpr int32_t COLUMN_STEP = 120;
constexpr int32_t ROW_GAP = 4;
constexpr int32_t TOP = 10;
constexpr int32_t MAX_COLUMN_HEIGHT = 600;
constexpr int32_t PROBE_FLAGS = WINDOW_STYLE_CAPTION | WINDOW_STYLE_SYSMENU;

struct ProbeLabel {
  int32_t X, Y, Height;
  std::string Text;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<ProbeLabel> labels;
  int32_t x = LABEL_X, y = TOP, width = 0, height = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t colon = arg.find(':');
    const int32_t h = colon == std::string::npos ? 0 : std::atoi(arg.substr(0, colon).c_str());
    if (h <= 0) {
      std::fprintf(stderr, "tonewell-label-probe: argument %d is not HEIGHT:TEXT\n", i);
      return 2;
    }
    if (y + h > MAX_COLUMN_HEIGHT) {
      x += COLUMN_STEP;
      y = TOP;
    }
    labels.push_back(ProbeLabel{x, y, h, arg.substr(colon + 1)});
    y += h + ROW_GAP;
    if (x + LABEL_WIDTH + LABEL_X > width) width = x + LABEL_WIDTH + LABEL_X;
    if (y + TOP > height) height = y + TOP;
  }

  UseWindowLayer(&FltkWindowLayer);
  if (!CurrentWindowLayer()->Available()) {
    std::fprintf(stderr, "tonewell-label-probe: no display\n");
    return 1;
  }
  InitWindowLayer();
  InitControlLayer();
  UseControlParent(OpenTopWindow(1, 0, 0, width, height, "Tonewell probe", PROBE_FLAGS));
  for (size_t i = 0; i < labels.size(); ++i) {
    const ProbeLabel& l = labels[i];
    CreateLabel(static_cast<int32_t>(i + 1), l.X, l.Y, LABEL_WIDTH, l.Height, l.Text.c_str());
    std::printf("%d %d %d %d\n", l.X, l.Y, LABEL_WIDTH, l.Height);
  }
  Fl::flush();
  XSync(fl_display, False);
  std::printf("ready\n");
  std::fflush(stdout);
  while (WaitEvent() != EVENT_CLOSE) {
  }
  EndWindowLayer();
  return 0;
}
