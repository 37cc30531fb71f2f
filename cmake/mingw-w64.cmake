# Cross build for 64-bit Windows with Debian's MinGW-w64, posix thread model (std::mutex and
# std::thread need it). Everything is linked statically, so the .exe files run on a Windows
# machine with nothing installed.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PFAD_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${PFAD_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PFAD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PFAD_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${PFAD_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${PFAD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes libgcc, libstdc++ and winpthread into the executable. The build id ties the
# fault report's line table to the executable it was made from, stripped or not.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--build-id")
# Tests run the programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# DWARF 4: binutils' addr2line names the wrong file for rows of GCC 12's default DWARF 5, and
# the fault report's line table is made with it (fault/win32/make_line_table.sh).
set(CMAKE_C_FLAGS_INIT "-gdwarf-4")
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4")
