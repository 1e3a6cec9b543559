# The report library's sources, relative to the project's root: the main
# build (src/report/CMakeLists.txt) and the fuzzing build compile this list.
set(KALVRIN_REPORT_SOURCES
  src/report/html_report.cpp
  src/report/html_report.h
  src/report/junit_report.cpp
  src/report/junit_report.h
  src/report/markup.cpp
  src/report/markup.h
  src/report/sha256.cpp
  src/report/sha256.h
  src/report/summary.cpp
  src/report/summary.h)
