# The ISO 4217 currency table and the ISO 3166-1 country table, made from
# Debian's iso-codes at configure time so that nobody types (or forgets to
# update) a list of currencies or countries.
set(KALVRIN_ISO_4217_JSON /usr/share/iso-codes/json/iso_4217.json CACHE FILEPATH
    "ISO 4217 currency codes, from Debian's iso-codes package")
set(KALVRIN_ISO_3166_JSON /usr/share/iso-codes/json/iso_3166-1.json CACHE FILEPATH
    "ISO 3166-1 country codes, from Debian's iso-codes package")

# One C string literal: backslashes and quotes escaped.
function(kalvrin_c_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Writes OUT_DIR/iso/NAME.inc from the list KEY of the iso-codes file JSON:
# one {FIELDS...} entry a line, the names as iso-codes writes them (UTF-8).
function(kalvrin_iso_table out_dir name json_file key)
  if(NOT EXISTS ${json_file})
    message(FATAL_ERROR "${json_file} is missing: install the iso-codes package (scripts/deps)")
  endif()
  file(READ ${json_file} json)
  string(JSON count LENGTH "${json}" ${key})
  if(count EQUAL 0)
    message(FATAL_ERROR "${json_file} lists nothing")
  endif()
  math(EXPR last "${count} - 1")
  set(entries "")
  foreach(i RANGE ${last})
    set(entry "")
    foreach(field IN LISTS ARGN)
      string(JSON value GET "${json}" ${key} ${i} ${field})
      kalvrin_c_string(value "${value}")
      list(APPEND entry "${value}")
    endforeach()
    list(JOIN entry ", " entry)
    string(APPEND entries "    {${entry}},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out_dir}/iso/${name}.inc CONTENT
       "// Made at configure time from ${json_file}; do not edit.\n${entries}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${json_file})
endfunction()

# OUT_DIR/iso/currency_codes.inc ({alphabetic, numeric, name}) and
# OUT_DIR/iso/country_codes.inc ({numeric, name}).
function(kalvrin_iso_code_tables out_dir)
  kalvrin_iso_table(${out_dir} currency_codes ${KALVRIN_ISO_4217_JSON} 4217 alpha_3 numeric name)
  kalvrin_iso_table(${out_dir} country_codes ${KALVRIN_ISO_3166_JSON} 3166-1 numeric name)
endfunction()
