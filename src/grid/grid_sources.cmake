# The grid library's sources, relative to the project's root: the main build
# (src/grid/CMakeLists.txt) and the fuzzing build compile this list.
set(KALVRIN_GRID_SOURCES
  src/grid/row_order.cpp
  src/grid/row_order.h
  src/grid/row_store.cpp
  src/grid/row_store.h)
