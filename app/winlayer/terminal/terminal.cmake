# SPDX-License-Identifier: GPL-2.0-or-later
# The terminal window layer, over ncurses; built wherever the curses library is found.
if(NOT WIN32)
  set(CURSES_NEED_NCURSES TRUE)
  find_package(Curses)
  if(CURSES_FOUND)
    target_sources(tonewell_winlayer PRIVATE ${CMAKE_CURRENT_LIST_DIR}/terminal.cpp ${CMAKE_CURRENT_LIST_DIR}/terminal_layout.cpp
                                             ${CMAKE_CURRENT_LIST_DIR}/terminal_session.cpp)
    target_include_directories(tonewell_winlayer PRIVATE ${CURSES_INCLUDE_DIRS})
    target_link_libraries(tonewell_winlayer PUBLIC ${CURSES_LIBRARIES})
    target_compile_definitions(tonewell_winlayer PUBLIC TONEWELL_HAVE_CURSES)
    set_property(GLOBAL PROPERTY TONEWELL_HAVE_CURSES ON)
  endif()
endif()
