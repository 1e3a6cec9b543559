# The headless library's sources (all of kalvrin-check but its main()),
# relative to the project's root: the main build and the fuzzing build
# compile this list.
set(KALVRIN_HEADLESS_SOURCES
  src/headless/check_app.cpp
  src/headless/command_options.cpp
  src/headless/diff_subcommand.cpp
  src/headless/element_listing.cpp
  src/headless/headless_surface.cpp
  src/headless/iso_subcommand.cpp
  src/headless/key_source.cpp
  src/headless/mac_subcommand.cpp
  src/headless/report_subcommand.cpp
  src/headless/rewrite_subcommand.cpp
  src/headless/surface_output.cpp
  src/headless/verify_subcommand.cpp)
