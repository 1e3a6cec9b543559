# The compare library's sources, relative to the project's root: the main
# build (src/compare/CMakeLists.txt) and the fuzzing build compile this list.
set(KALVRIN_COMPARE_SOURCES
  src/compare/compare_files.cpp
  src/compare/compare_files.h)
