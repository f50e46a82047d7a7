# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows multimedia wave-output backend (the default device layer on Windows).
target_sources(tonewell_audio PRIVATE ${CMAKE_CURRENT_LIST_DIR}/wave_out_winmm.cpp)
target_link_libraries(tonewell_audio PUBLIC winmm)
