# The settings library's sources, relative to the project's root: the main
# build (src/settings/CMakeLists.txt) and the fuzzing build compile this list.
set(KALVRIN_SETTINGS_SOURCES
  src/settings/settings.cpp
  src/settings/settings.h
  src/settings/settings_texts.h)
