# What the Windows build brings in place of the Linux packages: Qt for Windows (through its
# toolchain file), HarfBuzz compiled from its source, GoogleTest from its source, and the Wine
# settings under which the tests run on the build machine.

find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Network Test)
# The program's icon and version are Windows resources.
enable_language(RC)
# Windows 10 and later, as Qt 6 needs; no min and max macros in the way of the standard library.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN)

# HarfBuzz shapes the rows as on Linux. Qt for Windows carries its own copy inside Qt6Gui but
# does not export it, so the library is compiled here from its one-file amalgamation, with its
# own Unicode data (no ICU, no FreeType: Qt reads the fonts, HarfBuzz only their tables).
set(SKIRO_HARFBUZZ_SOURCE "" CACHE PATH "HarfBuzz's unpacked source tree (scripts/build-windows fetches it)")
if(NOT EXISTS "${SKIRO_HARFBUZZ_SOURCE}/src/harfbuzz.cc")
    message(FATAL_ERROR "SKIRO_HARFBUZZ_SOURCE must name HarfBuzz's source tree (with src/harfbuzz.cc); "
                        "scripts/build-windows fetches it with apt-get source")
endif()
add_library(skiro_harfbuzz STATIC "${SKIRO_HARFBUZZ_SOURCE}/src/harfbuzz.cc")
target_include_directories(skiro_harfbuzz SYSTEM PUBLIC "${SKIRO_HARFBUZZ_SOURCE}/src")
# Someone else's code: its warnings are not ours to fix.
target_compile_options(skiro_harfbuzz PRIVATE -w)
set_target_properties(skiro_harfbuzz PROPERTIES AUTOMOC OFF)

# GoogleTest from the source Debian installs with libgtest-dev.
set(SKIRO_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest's source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory("${SKIRO_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -w)
endforeach()

# The tests run under Wine, in a prefix of the build's own so that nothing outside it is
# touched; Wine's offers to install Mono and Gecko are declined, as nothing here needs them.
find_program(SKIRO_WINE NAMES wine wine64 wine-stable)
if(SKIRO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${SKIRO_WINE}")
endif()
set(SKIRO_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "QT_QPA_PLATFORM=offscreen")

# Beside the executables: Qt's libraries and platform plugin, and the compiler's runtime, so
# that the programs and tests run from the build folder as they do from the portable folder.
get_target_property(SKIRO_QT_CORE_DLL Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(SKIRO_QT_BIN "${SKIRO_QT_CORE_DLL}" DIRECTORY)
get_filename_component(SKIRO_QT_PREFIX "${SKIRO_QT_BIN}" DIRECTORY)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE SKIRO_LIBSTDCXX OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgcc_s_seh-1.dll
                OUTPUT_VARIABLE SKIRO_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE)
find_file(SKIRO_WINPTHREAD libwinpthread-1.dll
          PATHS /usr/x86_64-w64-mingw32/lib /usr/x86_64-w64-mingw32/bin NO_DEFAULT_PATH)
set(SKIRO_RUNTIME_FILES
    "${SKIRO_QT_BIN}/Qt6Core.dll" "${SKIRO_QT_BIN}/Qt6Gui.dll" "${SKIRO_QT_BIN}/Qt6Widgets.dll"
    "${SKIRO_QT_BIN}/Qt6Network.dll" "${SKIRO_LIBSTDCXX}" "${SKIRO_LIBGCC}" "${SKIRO_WINPTHREAD}")
set(SKIRO_RUNTIME_FOLDER ${CMAKE_BINARY_DIR}/bin)
add_custom_target(windows_runtime ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SKIRO_RUNTIME_FOLDER}/platforms
                                               ${SKIRO_RUNTIME_FOLDER}/styles
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${SKIRO_RUNTIME_FILES} ${SKIRO_RUNTIME_FOLDER}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
            "${SKIRO_QT_PREFIX}/plugins/platforms/qwindows.dll"
            "${SKIRO_QT_PREFIX}/plugins/platforms/qoffscreen.dll"
            ${SKIRO_RUNTIME_FOLDER}/platforms
    COMMAND ${CMAKE_COMMAND} -E copy_if_different
            "${SKIRO_QT_PREFIX}/plugins/styles/qwindowsvistastyle.dll" ${SKIRO_RUNTIME_FOLDER}/styles
    COMMENT "Qt and the compiler's runtime beside the executables")
