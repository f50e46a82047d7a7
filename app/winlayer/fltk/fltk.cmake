# SPDX-License-Identifier: GPL-2.0-or-later
# The FLTK window layer, for X11 desktops. Built when FLTK 1.3 and Xlib are found; the player
# then prefers it whenever a display opens.
if(NOT WIN32)
  find_package(X11)
  find_path(TONEWELL_FLTK_INCLUDE_DIR FL/Fl.H)
  find_library(TONEWELL_FLTK_LIBRARY fltk)
  if(X11_FOUND AND TONEWELL_FLTK_INCLUDE_DIR AND TONEWELL_FLTK_LIBRARY)
    target_sources(tonewell_winlayer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/fltk.cpp ${CMAKE_CURRENT_LIST_DIR}/fltk_placement.cpp)
    target_include_directories(tonewell_winlayer SYSTEM PUBLIC ${TONEWELL_FLTK_INCLUDE_DIR} ${X11_INCLUDE_DIR})
    target_link_libraries(tonewell_winlayer PUBLIC ${TONEWELL_FLTK_LIBRARY} ${X11_X11_LIB})
    target_compile_definitions(tonewell_winlayer PUBLIC TONEWELL_HAVE_FLTK)
    set_property(GLOBAL PROPERTY TONEWELL_HAVE_FLTK ON)
  else()
    message(STATUS "FLTK 1.3 or Xlib not found: the player is built without its X11 window layer")
  endif()
endif()
