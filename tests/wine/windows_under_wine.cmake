# Which Windows build the tests run under Wine, found out once, when the
# Linux tree is configured:
# - where Wine's 32-bit loader runs, the 32-bit presets (win32, win32-store):
#   they are what we ship;
# - where it does not (a kernel that runs no 32-bit x86 program, or wine32 not
#   installed), the 64-bit presets (win64, win64-store) under wine64; Debian's
#   wine launcher would take the 32-bit loader, so the 64-bit one is named;
# - where neither runs, no Windows build: the fixture that would build one
#   fails with the reason, and with it every Windows test.
# HALVEX_WINDOWS_UNDER_WINE=win64 in the environment asks for the 64-bit
# builds on a machine that could run either.
#
# Sets HALVEX_WINDOWS_TESTED (win32, win64 or empty), HALVEX_WINE (the loader),
# HALVEX_WINE_ENVIRONMENT (what the loader needs besides the prefix, as
# NAME=VALUE words), HALVEX_WINESERVER and HALVEX_WINDOWS_WHY (sentences without a semicolon,
# which would split them as a CMake list).

set(WINE32_LOADER /usr/lib/wine/wine)
set(WINE64_LOADER /usr/lib/wine/wine64)
set(WINE64_SERVER /usr/lib/wine/wineserver64)

# Runs loader --version; empty when it answers, else why it did not.
function(wine_loader_fault loader result)
  if(NOT EXISTS ${loader})
    set(${result} "${loader} is not installed" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${loader} --version RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors
                  TIMEOUT 30)
  if(status STREQUAL "0")
    set(${result} "" PARENT_SCOPE)
  else()
    string(STRIP "${status} ${errors}" why)
    string(REPLACE ";" "," why "${why}")
    set(${result} "${loader} --version: ${why}" PARENT_SCOPE)
  endif()
endfunction()

wine_loader_fault(${WINE32_LOADER} wine32_fault)
if(wine32_fault AND NOT EXISTS ${WINE32_LOADER})
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/runs_32bit.sh RESULT_VARIABLE runs_32bit
                  OUTPUT_VARIABLE kernel_answer OUTPUT_STRIP_TRAILING_WHITESPACE TIMEOUT 30)
  if(runs_32bit STREQUAL "0")
    string(APPEND wine32_fault ", though this machine runs 32-bit programs: the set-up said why it could not install it")
  else()
    set(wine32_fault "this machine runs no 32-bit programs (the kernel: ${kernel_answer})")
  endif()
endif()
wine_loader_fault(${WINE64_LOADER} wine64_fault)
set(HALVEX_WINDOWS_TESTED "")
set(HALVEX_WINE "")
set(HALVEX_WINE_ENVIRONMENT "")
set(HALVEX_WINESERVER "")
if("$ENV{HALVEX_WINDOWS_UNDER_WINE}" STREQUAL "win64" AND NOT wine64_fault)
  set(wine32_fault "the 64-bit builds were asked for (HALVEX_WINDOWS_UNDER_WINE=win64)")
endif()

if(NOT wine32_fault)
  find_program(WINE_LAUNCHER wine REQUIRED)
  find_program(WINESERVER_LAUNCHER wineserver REQUIRED)
  set(HALVEX_WINDOWS_TESTED win32)
  set(HALVEX_WINE ${WINE_LAUNCHER})
  set(HALVEX_WINESERVER ${WINESERVER_LAUNCHER})
  set(HALVEX_WINDOWS_WHY "the Windows tests run the 32-bit builds (win32, win32-store), the ones we ship, under Wine")
elseif(NOT wine64_fault)
  set(HALVEX_WINDOWS_TESTED win64)
  set(HALVEX_WINE ${WINE64_LOADER})
  set(HALVEX_WINESERVER ${WINE64_SERVER})
  set(HALVEX_WINE_ENVIRONMENT "WINELOADER=${WINE64_LOADER} WINESERVER=${WINE64_SERVER}")
  set(HALVEX_WINDOWS_WHY "the Windows tests run the 64-bit builds (win64, win64-store) under wine64, as no 32-bit Windows program runs here: ${wine32_fault}. The 32-bit builds we ship are built and checked without running them.")
else()
  set(HALVEX_WINDOWS_WHY "no Windows program runs here, so every Windows test fails: ${wine32_fault}, and ${wine64_fault}")
endif()
message(STATUS "Windows under Wine: ${HALVEX_WINDOWS_WHY}")
