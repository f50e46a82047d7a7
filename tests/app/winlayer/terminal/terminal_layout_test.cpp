// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal layer's panel without a terminal: pixel-to-cell mapping, the composed lines
// for the main window, the slider's bar, keys and mouse columns.
#include <gtest/gtest.h>

#include <curses.h>

#include <string>
#include <vector>

#include "app/winlayer/terminal/terminal_layout.h"

namespace {

// The main window as the program builds it.
PanelModel MainWindowModel(const std::string& status, int32_t volume) {
  PanelModel m{"Tonewell =)", 140, 100, {}};
  m.Controls.push_back(PanelControl{1, PANEL_LABEL, 10, 10, 110, 20, status, 0, 0, 0});
  m.Controls.push_back(PanelControl{2, PANEL_LABEL, 10, 30, 110, 14, "", 0, 0, 0});
  m.Controls.push_back(PanelControl{3, PANEL_LABEL, 10, 43, 110, 14, "", 0, 0, 0});
  m.Controls.push_back(PanelControl{4, PANEL_LABEL, 10, 56, 110, 14, "", 0, 0, 0});
  m.Controls.push_back(PanelControl{5, PANEL_SLIDER, 6, 75, 130, 18, "", 0, 100, volume});
  return m;
}

// --- Pixels to cells -------------------------------------------------------------------

TEST(PanelCells, MainWindowRowsKeepTheOrderAndSpacingOfThePixelRows) {
  const int32_t ys[] = {10, 30, 43, 56, 75};  // status, A, B, C, slider
  const int32_t rows[] = {0, 2, 3, 4, 5};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(CellRow(ys[i]), rows[i]) << ys[i];
  EXPECT_EQ(CellColumn(10), 2);  // labels
  EXPECT_EQ(CellColumn(6), 1);   // the slider starts a cell left of the labels, as in pixels
  EXPECT_EQ(CellColumn(140), 28);
  EXPECT_EQ(CellRow(100), 7);
}

TEST(PanelCells, NegativePixelsClampToTheFirstCellAndSpansAreAtLeastOne) {
  EXPECT_EQ(CellColumn(-40), 0);
  EXPECT_EQ(CellRow(-1), 0);
  EXPECT_EQ(CellSpan(110, CELL_WIDTH_PX), 22);
  EXPECT_EQ(CellSpan(111, CELL_WIDTH_PX), 23);  // a partly covered cell counts
  EXPECT_EQ(CellSpan(0, CELL_WIDTH_PX), 1);
  EXPECT_EQ(CellSpan(-7, CELL_WIDTH_PX), 1);
  EXPECT_EQ(SliderTrackCells(130), 24);
  EXPECT_EQ(SliderTrackCells(1), SLIDER_MIN_TRACK_CELLS);
}

// --- The composed panel -----------------------------------------------------------------

TEST(PanelLines, MainWindowAtStartUp) {
  const std::vector<std::string> expected = {
      "+--------- Tonewell =) ---------+",
      "|  Loading...                   |",
      "|                               |",
      "|                               |",
      "|                               |",
      "|                               |",
      "| [####################....]  85|",
      "|                               |",
      "+-------------------------------+",
  };
  EXPECT_EQ(ComposePanel(MainWindowModel("Loading...", 85)).Lines, expected);
}

TEST(PanelLines, MainWindowWhilePlaying) {
  PanelModel m = MainWindowModel("Playing: 1234 / 3506", 100);
  m.Controls[1].Text = "A: ---------------";
  m.Controls[2].Text = "B: ";
  m.Controls[3].Text = "C: -";
  const std::vector<std::string> lines = ComposePanel(m).Lines;
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[1], "|  Playing: 1234 / 3506         |");
  EXPECT_EQ(lines[3], "|  A: ---------------           |");
  EXPECT_EQ(lines[4], "|  B:                           |");
  EXPECT_EQ(lines[5], "|  C: -                         |");
  EXPECT_EQ(lines[6], "| [########################] 100|");
}

TEST(PanelLines, ALabelTextLongerThanItsWidthIsShownWholeAndAllLinesStayEqual) {
  const std::string longest = "Playing: -2147483648 / -2147483648 (and then some)";
  const PanelLines panel = ComposePanel(MainWindowModel(longest, 0));
  ASSERT_FALSE(panel.Lines.empty());
  EXPECT_NE(panel.Lines[1].find("  " + longest + "|"), std::string::npos) << panel.Lines[1];
  for (const std::string& line : panel.Lines) EXPECT_EQ(line.size(), panel.Lines[0].size()) << line;
}

TEST(PanelLines, UnprintableBytesAreShownAsStandIns) {
  const PanelLines panel = ComposePanel(MainWindowModel("a\tb\nc\x1b" "d", 0));
  EXPECT_NE(panel.Lines[1].find("a?b?c?d"), std::string::npos) << panel.Lines[1];
}

TEST(PanelLines, ALongTitleWidensThePanel) {
  PanelModel m{"A title much longer than the client area is wide", 20, 13, {}};
  const PanelLines panel = ComposePanel(m);
  ASSERT_EQ(panel.Lines.size(), 3u);
  EXPECT_NE(panel.Lines[0].find(" " + m.Title + " "), std::string::npos);
  EXPECT_EQ(panel.Lines[0].substr(0, 3), "+--");
  EXPECT_EQ(panel.Lines[0].substr(panel.Lines[0].size() - 3), "--+");
}

TEST(PanelLines, ALaterControlOverwritesAnEarlierOneWhereTheyMeet) {
  PanelModel m{"t", 100, 26, {}};
  m.Controls.push_back(PanelControl{1, PANEL_LABEL, 0, 0, 100, 13, "aaaaaaaa", 0, 0, 0});
  m.Controls.push_back(PanelControl{2, PANEL_LABEL, 10, 0, 100, 13, "bb", 0, 0, 0});
  EXPECT_EQ(ComposePanel(m).Lines[1].substr(0, 10), "|aabbaaaa ");
}

TEST(PanelLines, TheSliderHitAreaIsWhereTheBarIsDrawn) {
  const PanelLines panel = ComposePanel(MainWindowModel("x", 85));
  ASSERT_EQ(panel.Sliders.size(), 1u);
  const SliderHitArea& a = panel.Sliders[0];
  EXPECT_EQ(a.Number, 5);
  EXPECT_EQ(a.TrackCells, 24);
  EXPECT_EQ(a.Minimum, 0);
  EXPECT_EQ(a.Maximum, 100);
  const std::string& row = panel.Lines[static_cast<size_t>(a.Row)];
  EXPECT_EQ(row[static_cast<size_t>(a.TrackColumn - 1)], SLIDER_LEFT_END);
  EXPECT_EQ(row[static_cast<size_t>(a.TrackColumn)], SLIDER_FILLED);
  EXPECT_EQ(row[static_cast<size_t>(a.TrackColumn + a.TrackCells)], SLIDER_RIGHT_END);
}

TEST(PanelLines, CentredOriginSplitsTheSpareCellsAndNeverGoesNegative) {
  EXPECT_EQ(CentredOrigin(80, 33), 23);
  EXPECT_EQ(CentredOrigin(24, 9), 7);
  EXPECT_EQ(CentredOrigin(33, 33), 0);
  EXPECT_EQ(CentredOrigin(20, 33), 0);
}

// --- The slider bar ---------------------------------------------------------------------

TEST(SliderBar, TextShowsTheFillAndTheValueRightAligned) {
  EXPECT_EQ(SliderText(0, 0, 100, 4), "[....]   0");
  EXPECT_EQ(SliderText(50, 0, 100, 4), "[##..]  50");
  EXPECT_EQ(SliderText(100, 0, 100, 4), "[####] 100");
  EXPECT_EQ(SliderText(85, 0, 100, 24), "[####################....]  85");
  EXPECT_EQ(SliderText(250, 0, 100, 4), "[####] 100");  // out of range: shown clamped
}

TEST(SliderBar, FillRunsFromNoneAtTheMinimumToAllAtTheMaximumWithoutGoingBack) {
  EXPECT_EQ(FilledTrackCells(0, 0, 100, 24), 0);
  EXPECT_EQ(FilledTrackCells(100, 0, 100, 24), 24);
  EXPECT_EQ(FilledTrackCells(20, 20, 30, 5), 0);
  EXPECT_EQ(FilledTrackCells(30, 20, 30, 5), 5);
  int32_t previous = 0;
  for (int32_t v = 0; v <= 100; ++v) {
    const int32_t filled = FilledTrackCells(v, 0, 100, 24);
    EXPECT_GE(filled, previous) << v;
    EXPECT_LE(filled - previous, 1) << v;
    previous = filled;
  }
  EXPECT_EQ(FilledTrackCells(5, 5, 5, 24), 24);  // an empty range stands at its maximum
  EXPECT_EQ(FilledTrackCells(5, 0, 10, 0), 0);
}

TEST(SliderBar, MouseCellsMapFromTheMinimumAtTheFirstCellToTheMaximumAtTheLast) {
  EXPECT_EQ(SliderValueAtCell(0, 0, 100, 24), 0);
  EXPECT_EQ(SliderValueAtCell(23, 0, 100, 24), 100);
  EXPECT_EQ(SliderValueAtCell(-3, 0, 100, 24), 0);   // the left bracket and beyond
  EXPECT_EQ(SliderValueAtCell(24, 0, 100, 24), 100);  // the right bracket and beyond
  EXPECT_EQ(SliderValueAtCell(500, 20, 30, 6), 30);
  EXPECT_EQ(SliderValueAtCell(0, 20, 30, 6), 20);
  EXPECT_EQ(SliderValueAtCell(3, 7, 7, 6), 7);
  int32_t previous = -1;
  for (int32_t cell = 0; cell < 24; ++cell) {
    const int32_t v = SliderValueAtCell(cell, 0, 100, 24);
    EXPECT_GT(v, previous) << cell;
    // The bar drawn for that value ends at the clicked cell (or just before it).
    const int32_t filled = FilledTrackCells(v, 0, 100, 24);
    EXPECT_GE(filled, cell) << cell;
    EXPECT_LE(filled, cell + 1) << cell;
    previous = v;
  }
}

// --- Keys -------------------------------------------------------------------------------

struct KeyCase {
  int Key;
  int32_t From, Expected;
};

TEST(SliderKeys, ArrowPageHomeAndEndKeysMoveTheSlider) {
  const KeyCase cases[] = {
      {KEY_RIGHT, 85, 86}, {KEY_LEFT, 85, 84},   {KEY_NPAGE, 85, 95}, {KEY_PPAGE, 85, 75},
      {KEY_HOME, 85, 0},   {KEY_END, 85, 100},   {KEY_FIND, 40, 0},   {KEY_SELECT, 40, 100},
      {KEY_A1, 40, 0},     {KEY_C1, 40, 100},
  };
  for (const KeyCase& c : cases) {
    bool moves = false;
    EXPECT_EQ(SliderTargetForKey(c.Key, c.From, 0, 100, &moves), c.Expected) << c.Key;
    EXPECT_TRUE(moves) << c.Key;
  }
}

TEST(SliderKeys, MovesStopAtTheEnds) {
  const KeyCase cases[] = {
      {KEY_RIGHT, 100, 100}, {KEY_LEFT, 0, 0}, {KEY_NPAGE, 95, 100}, {KEY_PPAGE, 4, 0},
      {KEY_NPAGE, 100, 100}, {KEY_PPAGE, 0, 0},
  };
  for (const KeyCase& c : cases) {
    bool moves = false;
    EXPECT_EQ(SliderTargetForKey(c.Key, c.From, 0, 100, &moves), c.Expected) << c.Key << " from " << c.From;
  }
  bool moves = false;
  EXPECT_EQ(SliderTargetForKey(KEY_HOME, 25, 20, 30, &moves), 20);
  EXPECT_EQ(SliderTargetForKey(KEY_END, 25, 20, 30, &moves), 30);
  EXPECT_EQ(SliderTargetForKey(KEY_PPAGE, 25, 20, 30, &moves), 20);
}

TEST(SliderKeys, OtherKeysAreNotSliderKeys) {
  for (int key : std::initializer_list<int>{'x', ' ', '\r', KEY_UP, KEY_DOWN, KEY_F(1), 'q'}) {
    bool moves = true;
    EXPECT_EQ(SliderTargetForKey(key, 42, 0, 100, &moves), 42) << key;
    EXPECT_FALSE(moves) << key;
  }
}

TEST(CloseKeys, QEscapeCtrlCAndCtrlDAskToClose) {
  for (int key : std::initializer_list<int>{'q', 27, 3, 4}) EXPECT_TRUE(IsCloseKey(key)) << key;
  for (int key : std::initializer_list<int>{'Q', 'x', 26, 28, KEY_LEFT, KEY_EXIT, 0}) EXPECT_FALSE(IsCloseKey(key)) << key;
}

}  // namespace
