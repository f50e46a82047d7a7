# SPDX-License-Identifier: GPL-2.0-or-later
# The Win32 window layer: the program's own toolkit over the Windows window system and the
# common controls. Only on Windows.
if(WIN32)
  target_sources(tonewell_winlayer PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/win32_window.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32_controls.cpp
    ${CMAKE_CURRENT_LIST_DIR}/win32_tracker.cpp)
  target_link_libraries(tonewell_winlayer PUBLIC comctl32 user32 gdi32)
endif()
