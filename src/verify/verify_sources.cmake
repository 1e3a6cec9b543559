# The verify library's sources, relative to the project's root: the main
# build (src/verify/CMakeLists.txt) and the fuzzing build compile this list.
set(KALVRIN_VERIFY_SOURCES
  src/verify/batch_checks.cpp
  src/verify/batch_checks.h
  src/verify/batch_rules.cpp
  src/verify/batch_rules.h
  src/verify/element_rules.cpp
  src/verify/element_rules.h
  src/verify/emv_rules.cpp
  src/verify/emv_rules.h
  src/verify/envelope_rules.cpp
  src/verify/envelope_rules.h
  src/verify/finding.h
  src/verify/finding_text.h
  src/verify/framing_rules.cpp
  src/verify/framing_rules.h
  src/verify/mac_rules.cpp
  src/verify/mac_rules.h
  src/verify/message_reader.cpp
  src/verify/message_reader.h
  src/verify/reporter.cpp
  src/verify/reporter.h
  src/verify/rules.cpp
  src/verify/rules.h
  src/verify/verify_pass.cpp
  src/verify/verify_pass.h)
