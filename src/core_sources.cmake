# The core's sources, relative to the project's root: the main build and the
# fuzzing build (fuzz/CMakeLists.txt) compile the same list.
set(KALVRIN_CORE_SOURCES
  src/decimal_text.h
  src/defines.h
  src/io/file_identity.h
  src/io/transaction_file.cpp
  src/iso/element_table.cpp
  src/iso/format_check.cpp
  src/iso/grid_csv.cpp
  src/iso/iso_commands.cpp
  src/iso/message_decoder.cpp
  src/iso/pan_mask.cpp
  src/mac/des.cpp
  src/mac/file_mac.cpp
  src/mac/generate_mac.cpp
  src/mac/key_install.cpp
  src/mac/mac_bytes.h
  src/mac/mac_chains.cpp
  src/mac/mac_command.cpp
  src/mac/mac_core.cpp
  src/mac/mac_core.h
  src/mac/mac_envelope.cpp
  src/mac/mac_pass.cpp
  src/mac/mac_candidates.cpp
  src/mac/mac_explain.cpp)
