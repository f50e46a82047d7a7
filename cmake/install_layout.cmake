# SPDX-License-Identifier: GPL-2.0-or-later
# Where the installed files go, decided once for the programs (tonewell-play finds the demo
# tune relative to its own folder) and for the install rules in packaging/.
#   Linux and other POSIX systems: GNUInstallDirs, bin/ and share/tonewell/dump.txt.
#   Windows: one folder, the programs beside music\dump.txt, so that tonewell.exe started
#   there plays the demo tune by itself.
include(GNUInstallDirs)

if(WIN32)
  set(TONEWELL_INSTALL_BINDIR .)
  set(TONEWELL_INSTALL_TUNEDIR music)
  set(TONEWELL_INSTALL_DOCDIR .)
else()
  set(TONEWELL_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(TONEWELL_INSTALL_TUNEDIR ${CMAKE_INSTALL_DATADIR}/tonewell)
  set(TONEWELL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tonewell)
endif()

# The demo tune as a path relative to the programs' folder.
foreach(_dir BINDIR TUNEDIR)
  if(IS_ABSOLUTE "${TONEWELL_INSTALL_${_dir}}")
    set(_full_${_dir} "${TONEWELL_INSTALL_${_dir}}")
  else()
    set(_full_${_dir} "${CMAKE_INSTALL_PREFIX}/${TONEWELL_INSTALL_${_dir}}")
  endif()
endforeach()
file(RELATIVE_PATH TONEWELL_TUNE_FROM_BINDIR "${_full_BINDIR}" "${_full_TUNEDIR}/dump.txt")
set(TONEWELL_INSTALL_FULL_BINDIR "${_full_BINDIR}")
