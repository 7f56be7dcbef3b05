# Cross-building for 64-bit Windows with mingw-w64's posix-threads compilers (std::thread and
# std::mutex need them). KUVLCD_WINDOWS_PREFIX is where scripts/build-windows installed the
# libraries built for Windows; programs are linked statically so that they run without DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

if(NOT KUVLCD_WINDOWS_PREFIX)
  set(KUVLCD_WINDOWS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps")
endif()
get_filename_component(KUVLCD_WINDOWS_PREFIX "${KUVLCD_WINDOWS_PREFIX}" ABSOLUTE)
# Try-compile projects see only what is passed on to them.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KUVLCD_WINDOWS_PREFIX)

set(CMAKE_FIND_ROOT_PATH "${KUVLCD_WINDOWS_PREFIX}" /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the prefix's and the cross compiler's .pc files (zlib's is there) and,
# since everything is static, their private libraries too.
set(ENV{PKG_CONFIG_LIBDIR} "${KUVLCD_WINDOWS_PREFIX}/lib/pkgconfig:${KUVLCD_WINDOWS_PREFIX}/share/pkgconfig:/usr/${triple}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)

# Programs built here run under Wine, in the build's own prefix (test discovery, ctest).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Static archives before DLL import libraries, which the platform rules would find first.
set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/mingw-w64-static.cmake")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
