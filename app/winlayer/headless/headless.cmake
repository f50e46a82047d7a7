# SPDX-License-Identifier: GPL-2.0-or-later
# The display-less window layer: timers and a quit request on SIGTERM or SIGINT. Not on Windows.
if(NOT WIN32)
  target_sources(tonewell_winlayer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/headless.cpp)
endif()
