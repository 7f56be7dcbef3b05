# Loaded after the platform rules (see mingw-w64-x86_64.cmake): find_library takes libz.a over
# libz.dll.a, so that programs need no DLL beside them.
set(CMAKE_FIND_LIBRARY_SUFFIXES ".a")
