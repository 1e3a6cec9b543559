# The rewrite library's sources, relative to the project's root: the main
# build (src/rewrite/CMakeLists.txt) and the fuzzing build compile this list.
set(KALVRIN_REWRITE_SOURCES
  src/rewrite/anonymize.cpp
  src/rewrite/anonymize.h
  src/rewrite/card_map.cpp
  src/rewrite/card_map.h
  src/rewrite/edits.cpp
  src/rewrite/edits.h
  src/rewrite/message_edit.cpp
  src/rewrite/message_edit.h
  src/rewrite/output_file.cpp
  src/rewrite/output_file.h
  src/rewrite/rewrite.cpp
  src/rewrite/rewrite.h)
