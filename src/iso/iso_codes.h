// ISO 4217 currencies and ISO 3166-1 countries by their codes, from the
// tables made out of Debian's iso-codes when the project is configured.
#pragma once

#include <string_view>

namespace kalvrin {

// An assigned ISO 4217 code, numeric ("978") or alphabetic ("EUR").
bool IsCurrencyCode(std::string_view code);

// The numeric code of an alphabetic one ("EUR" -> "978"); empty when none.
std::string_view CurrencyNumeric(std::string_view alphabetic);

// The currency's or country's name for a three-digit numeric code ("978" ->
// "Euro", "040" -> "Austria"), in Latin-1 as every text of the tool; empty
// when the code is not assigned.
std::string_view CurrencyName(std::string_view numeric);
std::string_view CountryName(std::string_view numeric);

}  // namespace kalvrin
