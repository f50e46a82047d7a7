// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal window layer's text panel, apart from the terminal itself: how the pixel
// positions of a window's controls become character cells, what the panel's lines contain,
// which keys move a slider and where a mouse column puts it. Nothing here touches the
// terminal, so all of it runs in unit tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/winlayer/layer_common.h"  // ClampSliderValue

// One cell column stands for 5 pixels and one cell row for 13: the level labels sit 13 pixels
// apart, so every label of the main window keeps a row of its own and their order.
constexpr int32_t CELL_WIDTH_PX = 5;
constexpr int32_t CELL_HEIGHT_PX = 13;
// The panel's frame: one cell on each side; the title is set into the top border.
constexpr int32_t PANEL_BORDER_CELLS = 1;
constexpr int32_t TITLE_PADDING_CELLS = 1;  // blank cells either side of the title
constexpr int32_t TITLE_MIN_RULE_CELLS = 2; // border cells kept either side of the title
// A slider is drawn "[####....] 85": brackets round the track, a gap, the position.
constexpr int32_t SLIDER_BRACKET_CELLS = 2;
constexpr int32_t SLIDER_MIN_TRACK_CELLS = 1;
constexpr int32_t SLIDER_VALUE_GAP_CELLS = 1;
constexpr int32_t SLIDER_VALUE_CELLS = 3;  // wide enough for "100"
constexpr char PANEL_CORNER = '+';
constexpr char PANEL_RULE = '-';
constexpr char PANEL_SIDE = '|';
constexpr char SLIDER_LEFT_END = '[';
constexpr char SLIDER_RIGHT_END = ']';
constexpr char SLIDER_FILLED = '#';
constexpr char SLIDER_EMPTY = '.';
// Keyboard steps of a slider, as a graphical slider's arrow and page keys.
constexpr int32_t SLIDER_LINE_STEP = 1;
constexpr int32_t SLIDER_PAGE_STEP = 10;

constexpr int32_t PANEL_LABEL = 1;
constexpr int32_t PANEL_SLIDER = 2;

// Pixel coordinate to cell coordinate (rounding down; negative pixels give cell 0).
int32_t CellColumn(int32_t xPx);
int32_t CellRow(int32_t yPx);
// Cells that a pixel extent covers, at least 1.
int32_t CellSpan(int32_t extentPx, int32_t cellPx);

// Track cells of a slider widthPx pixels wide.
int32_t SliderTrackCells(int32_t widthPx);
// Track cells drawn filled for value: 0 at the minimum, all at the maximum, in proportion
// between, rounded to nearest.
int32_t FilledTrackCells(int32_t value, int32_t minimum, int32_t maximum, int32_t trackCells);
// The value that a click or drag at track cell `cell` (0 = first track cell; cells outside the
// track count as its nearest end) sets: the first cell gives the minimum, the last the maximum.
int32_t SliderValueAtCell(int32_t cell, int32_t minimum, int32_t maximum, int32_t trackCells);

// Where a key moves a slider that stands at value; *moves says whether the key is a slider key
// at all. Left/Right step by SLIDER_LINE_STEP, Page Up/Page Down by SLIDER_PAGE_STEP (Page
// Down towards the maximum, as a graphical slider's page keys), Home/End jump to the ends.
int32_t SliderTargetForKey(int key, int32_t value, int32_t minimum, int32_t maximum, bool* moves);
// q, Escape, Ctrl-C and Ctrl-D ask to close the window.
bool IsCloseKey(int key);

// What the panel shows: the window's title and client size and its controls, in pixels.
struct PanelControl {
  int32_t Number;
  int32_t Kind;  // PANEL_LABEL or PANEL_SLIDER
  int32_t X, Y, Width, Height;
  std::string Text;  // labels
  int32_t Minimum, Maximum, Value;  // sliders
};
struct PanelModel {
  std::string Title;
  int32_t ClientWidth, ClientHeight;
  std::vector<PanelControl> Controls;
};

// Where a slider's track lies in the panel, for mouse input.
struct SliderHitArea {
  int32_t Number;
  int32_t Row;          // panel row of the bar
  int32_t TrackColumn;  // panel column of the first track cell
  int32_t TrackCells;
  int32_t Minimum, Maximum;
};

struct PanelLines {
  std::vector<std::string> Lines;  // all of equal width, frame included
  std::vector<SliderHitArea> Sliders;
};

// Lays the panel out: a frame with the title in its top border; each control in the cell of
// its pixel position (client origin = first cell inside the frame). Label texts are shown
// whole: the panel widens to fit the longest. A later control overwrites an earlier one where
// they overlap.
PanelLines ComposePanel(const PanelModel& model);
// The slider as drawn: "[", the track, "]", a blank, the value right-aligned in three cells.
std::string SliderText(int32_t value, int32_t minimum, int32_t maximum, int32_t trackCells);
// Top-left cell that centres an extent of `size` cells in `available` cells (0 when it does
// not fit).
int32_t CentredOrigin(int32_t available, int32_t size);
