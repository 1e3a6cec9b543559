# The ISO 4217 currency table, made from Debian's iso-codes at configure time
# so that nobody types (or forgets to update) a list of currencies.
set(KALVRIN_ISO_4217_JSON /usr/share/iso-codes/json/iso_4217.json CACHE FILEPATH
    "ISO 4217 currency codes, from Debian's iso-codes package")

# Writes OUT_DIR/verify/currency_codes.inc: one {alphabetic, numeric} pair a line.
function(kalvrin_currency_table out_dir)
  if(NOT EXISTS ${KALVRIN_ISO_4217_JSON})
    message(FATAL_ERROR "${KALVRIN_ISO_4217_JSON} is missing: install the iso-codes package (scripts/deps)")
  endif()
  file(READ ${KALVRIN_ISO_4217_JSON} json)
  string(JSON count LENGTH "${json}" 4217)
  if(count EQUAL 0)
    message(FATAL_ERROR "${KALVRIN_ISO_4217_JSON} lists no currency")
  endif()
  math(EXPR last "${count} - 1")
  set(entries "")
  foreach(i RANGE ${last})
    string(JSON alpha GET "${json}" 4217 ${i} alpha_3)
    string(JSON numeric GET "${json}" 4217 ${i} numeric)
    string(APPEND entries "    {\"${alpha}\", \"${numeric}\"},\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out_dir}/verify/currency_codes.inc CONTENT
       "// Made at configure time from ${KALVRIN_ISO_4217_JSON}; do not edit.\n${entries}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KALVRIN_ISO_4217_JSON})
endfunction()
