# Shared helpers for the project's CMake files.

set(KUVLCD_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)

# kuvlcd_warnings(target): the project's warning set on one target.
function(kuvlcd_warnings target)
  target_compile_options(${target} PRIVATE ${KUVLCD_WARNINGS})
endfunction()

# What differs per platform sits in files named *_posix.cpp and *_windows.cpp; a build takes its
# own platform's and leaves the other's out.
if(WIN32)
  # mingw-w64's localtime_r and gmtime_r, over the C runtime's *_s functions.
  add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS)
  set(KUVLCD_OTHER_PLATFORM_FILES "_posix(_test)?\\.cpp$")
else()
  set(KUVLCD_OTHER_PLATFORM_FILES "_windows(_test)?\\.cpp$")
endif()

# kuvlcd_sources(out pattern UNPORTED files...): the folder's files matching pattern for this
# platform; on Windows the UNPORTED files are left out until they have a Windows twin.
function(kuvlcd_sources out pattern)
  cmake_parse_arguments(ARG "" "" "UNPORTED" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${pattern}")
  list(FILTER srcs EXCLUDE REGEX "${KUVLCD_OTHER_PLATFORM_FILES}")
  if(WIN32)
    foreach(file IN LISTS ARG_UNPORTED)
      list(REMOVE_ITEM srcs "${CMAKE_CURRENT_SOURCE_DIR}/${file}")
    endforeach()
  endif()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# kuvlcd_library(name [QT] LIBS ... UNPORTED ...): a static library from every .cpp of this
# folder that is not a test (nor, with QT, a program's *_main.cpp or main.cpp); the project root
# is its include root so headers read "common/x.h". QT turns moc on and makes nothing of a folder
# with no source.
function(kuvlcd_library name)
  cmake_parse_arguments(ARG "QT" "" "LIBS;UNPORTED" ${ARGN})
  kuvlcd_sources(srcs "*.cpp" UNPORTED ${ARG_UNPORTED})
  list(FILTER srcs EXCLUDE REGEX "(_test|/main|_main)\\.cpp$")
  if(NOT srcs)
    return()
  endif()
  add_library(${name} STATIC ${srcs})
  if(ARG_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  kuvlcd_warnings(${name})
endfunction()

# kuvlcd_tests(name [QT] LIBS ... UNPORTED ...): one GoogleTest program from every *_test.cpp of
# this folder. QT runs it with one QApplication on the offscreen platform (app/qt_test_main.cpp).
# Cross-built tests run through the emulator (scripts/wine-run for Windows).
function(kuvlcd_tests name)
  if(NOT KUVLCD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "QT" "" "LIBS;SOURCES;UNPORTED" ${ARGN})
  kuvlcd_sources(srcs "*_test.cpp" UNPORTED ${ARG_UNPORTED})
  if(NOT srcs)
    return()
  endif()
  set(environment "LC_ALL=C.UTF-8")
  if(ARG_QT)
    find_package(Qt6 REQUIRED COMPONENTS Test)
    add_executable(${name} ${srcs} ${ARG_SOURCES} "${PROJECT_SOURCE_DIR}/app/qt_test_main.cpp")
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Test GTest::gtest GTest::gmock)
    list(APPEND environment "QT_QPA_PLATFORM=offscreen")
  else()
    add_executable(${name} ${srcs} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    KUVLCD_TESTDATA_DIR="${KUVLCD_TESTDATA_DIR}"
    KUVLCD_BINARY_DIR="${PROJECT_BINARY_DIR}"
    KUVLCD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  kuvlcd_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    # A process costs seconds to start under the emulator: the program runs once with all its
    # tests, and its output names any that failed.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${environment}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "${environment}")
  endif()
endfunction()
