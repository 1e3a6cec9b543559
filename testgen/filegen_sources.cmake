# The generator library's sources (all of kalvrin-gen but its main()),
# relative to the project's root: the main build and the fuzzing build
# compile this list.
set(KALVRIN_FILEGEN_SOURCES
  testgen/chip_data.cpp
  testgen/chip_data.h
  testgen/filegen.cpp
  testgen/filegen.h)
