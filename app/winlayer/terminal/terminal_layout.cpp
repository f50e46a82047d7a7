// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/winlayer/terminal/terminal_layout.h"

#include <curses.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int KEY_ESCAPE = 27;
constexpr int KEY_CTRL_C = 3;
constexpr int KEY_CTRL_D = 4;
constexpr char UNPRINTABLE_STAND_IN = '?';

// How a slider key moves the slider.
constexpr int32_t MOVE_STEP = 0;
constexpr int32_t MOVE_TO_MINIMUM = 1;
constexpr int32_t MOVE_TO_MAXIMUM = 2;

struct SliderKey {
  int Key;
  int32_t Move;
  int32_t Step;
};

// Home and End arrive as KEY_HOME/KEY_END, or as Find/Select or the keypad's corner keys on
// terminals whose Home and End send those sequences.
const SliderKey SliderKeys[] = {
    {KEY_LEFT, MOVE_STEP, -SLIDER_LINE_STEP},  {KEY_RIGHT, MOVE_STEP, SLIDER_LINE_STEP},
    {KEY_PPAGE, MOVE_STEP, -SLIDER_PAGE_STEP}, {KEY_NPAGE, MOVE_STEP, SLIDER_PAGE_STEP},
    {KEY_HOME, MOVE_TO_MINIMUM, 0},            {KEY_END, MOVE_TO_MAXIMUM, 0},
    {KEY_FIND, MOVE_TO_MINIMUM, 0},            {KEY_SELECT, MOVE_TO_MAXIMUM, 0},
    {KEY_A1, MOVE_TO_MINIMUM, 0},              {KEY_C1, MOVE_TO_MAXIMUM, 0},
};

const int CloseKeys[] = {'q', KEY_ESCAPE, KEY_CTRL_C, KEY_CTRL_D};

// Writes text into row at column, cutting what falls outside the row.
void Put(std::string& row, int32_t column, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t at = static_cast<size_t>(column) + i;
    if (at >= row.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    row[at] = (c < ' ' || c == 127) ? UNPRINTABLE_STAND_IN : text[i];
  }
}

// Cells a control occupies across: a label its pixel width or its text, whichever is longer;
// a slider its bar and the value beside it.
int32_t ControlCells(const PanelControl& c) {
  if (c.Kind == PANEL_SLIDER)
    return SLIDER_BRACKET_CELLS + SliderTrackCells(c.Width) + SLIDER_VALUE_GAP_CELLS + SLIDER_VALUE_CELLS;
  return std::max(CellSpan(c.Width, CELL_WIDTH_PX), static_cast<int32_t>(c.Text.size()));
}

}  // namespace

int32_t CellColumn(int32_t xPx) { return xPx < 0 ? 0 : xPx / CELL_WIDTH_PX; }
int32_t CellRow(int32_t yPx) { return yPx < 0 ? 0 : yPx / CELL_HEIGHT_PX; }

int32_t CellSpan(int32_t extentPx, int32_t cellPx) {
  if (extentPx <= 0 || cellPx <= 0) return 1;
  return std::max<int32_t>(1, (extentPx + cellPx - 1) / cellPx);
}

int32_t SliderTrackCells(int32_t widthPx) {
  return std::max(SLIDER_MIN_TRACK_CELLS, CellSpan(widthPx, CELL_WIDTH_PX) - SLIDER_BRACKET_CELLS);
}

int32_t FilledTrackCells(int32_t value, int32_t minimum, int32_t maximum, int32_t trackCells) {
  if (trackCells <= 0) return 0;
  const int64_t range = static_cast<int64_t>(maximum) - minimum;
  if (range <= 0) return trackCells;
  const int64_t offset = ClampSliderValue(value, minimum, maximum) - static_cast<int64_t>(minimum);
  return static_cast<int32_t>((offset * trackCells * 2 + range) / (range * 2));
}

int32_t SliderValueAtCell(int32_t cell, int32_t minimum, int32_t maximum, int32_t trackCells) {
  const int64_t range = static_cast<int64_t>(maximum) - minimum;
  if (range <= 0 || trackCells <= 1) return ClampSliderValue(minimum, minimum, maximum);
  const int64_t last = trackCells - 1;
  const int64_t at = cell < 0 ? 0 : cell > last ? last : cell;
  return static_cast<int32_t>(minimum + (at * range * 2 + last) / (last * 2));
}

int32_t SliderTargetForKey(int key, int32_t value, int32_t minimum, int32_t maximum, bool* moves) {
  for (const SliderKey& k : SliderKeys) {
    if (k.Key != key) continue;
    *moves = true;
    if (k.Move == MOVE_TO_MINIMUM) return ClampSliderValue(minimum, minimum, maximum);
    if (k.Move == MOVE_TO_MAXIMUM) return ClampSliderValue(maximum, minimum, maximum);
    const int64_t target = static_cast<int64_t>(value) + k.Step;
    const int64_t low = minimum, high = maximum < minimum ? minimum : maximum;
    return static_cast<int32_t>(target < low ? low : target > high ? high : target);
  }
  *moves = false;
  return value;
}

bool IsCloseKey(int key) {
  return std::find(std::begin(CloseKeys), std::end(CloseKeys), key) != std::end(CloseKeys);
}

std::string SliderText(int32_t value, int32_t minimum, int32_t maximum, int32_t trackCells) {
  const int32_t filled = FilledTrackCells(value, minimum, maximum, trackCells);
  std::string text(1, SLIDER_LEFT_END);
  text.append(static_cast<size_t>(filled), SLIDER_FILLED);
  text.append(static_cast<size_t>(trackCells - filled), SLIDER_EMPTY);
  text.push_back(SLIDER_RIGHT_END);
  text.append(static_cast<size_t>(SLIDER_VALUE_GAP_CELLS), ' ');
  char number[16];
  std::snprintf(number, sizeof number, "%*d", static_cast<int>(SLIDER_VALUE_CELLS),
                static_cast<int>(ClampSliderValue(value, minimum, maximum)));
  text += number;
  return text;
}

int32_t CentredOrigin(int32_t available, int32_t size) {
  return available > size ? (available - size) / 2 : 0;
}

PanelLines ComposePanel(const PanelModel& model) {
  // Inner size: the client area, widened and heightened to hold every control.
  int32_t columns = CellColumn(model.ClientWidth);
  int32_t rows = CellRow(model.ClientHeight);
  for (const PanelControl& c : model.Controls) {
    columns = std::max(columns, CellColumn(c.X) + ControlCells(c));
    rows = std::max(rows, CellRow(c.Y) + 1);
  }
  const int32_t titleCells = static_cast<int32_t>(model.Title.size()) + 2 * TITLE_PADDING_CELLS;
  columns = std::max(columns, titleCells + 2 * TITLE_MIN_RULE_CELLS);
  columns = std::max(columns, 1);
  rows = std::max(rows, 1);

  std::vector<std::string> inner(static_cast<size_t>(rows), std::string(static_cast<size_t>(columns), ' '));
  PanelLines panel;
  for (const PanelControl& c : model.Controls) {
    std::string& row = inner[static_cast<size_t>(CellRow(c.Y))];
    const int32_t column = CellColumn(c.X);
    if (c.Kind == PANEL_SLIDER) {
      const int32_t track = SliderTrackCells(c.Width);
      Put(row, column, SliderText(c.Value, c.Minimum, c.Maximum, track));
      panel.Sliders.push_back(SliderHitArea{c.Number, PANEL_BORDER_CELLS + CellRow(c.Y),
                                            PANEL_BORDER_CELLS + column + SLIDER_BRACKET_CELLS / 2, track, c.Minimum, c.Maximum});
    } else {
      Put(row, column, c.Text);
    }
  }

  const std::string corner(static_cast<size_t>(PANEL_BORDER_CELLS), PANEL_CORNER);
  const std::string side(static_cast<size_t>(PANEL_BORDER_CELLS), PANEL_SIDE);
  const std::string padding(static_cast<size_t>(TITLE_PADDING_CELLS), ' ');
  std::string top(static_cast<size_t>(columns), PANEL_RULE);
  Put(top, (columns - titleCells) / 2, padding + model.Title + padding);
  panel.Lines.push_back(corner + top + corner);
  for (const std::string& row : inner) panel.Lines.push_back(side + row + side);
  panel.Lines.push_back(corner + std::string(static_cast<size_t>(columns), PANEL_RULE) + corner);
  return panel;
}
