// The texts the MAC check and the MAC command show, in one place (the
// envelope lookup's are in mac_envelope.h). They are the tool's own texts,
// spelling included.
#pragma once

#include <string_view>

namespace kalvrin::mac_texts {

// the MAC command, status panel 2
inline constexpr std::string_view kProcessingMac = "Processing MAC";
inline constexpr std::string_view kMacProcessed = "MAC processed";

// the driver, status panel 1
inline constexpr std::string_view kCreateKcvError = "Create KCV error ";
inline constexpr std::string_view kInstallKeyError = "InstallKey error: ";  // followed by the code
inline constexpr std::string_view kMacRecordsError = "MAC Records error";

// the variants' figures
inline constexpr std::string_view kFileSize = "FileSize: ";  // status panel 0, MACALL
inline constexpr std::string_view kBlocks = "Blocks: ";      // status panel 1
inline constexpr std::string_view kBlockSizeText = "512";
inline constexpr std::string_view kByteCountPending = "-?-";

// MACALL's failures. The open and position errors belong to a variant that
// opens the file itself (the separate variants the tests check against); the
// MAC check opens the file once, and a file it cannot open stops its lookup.
inline constexpr std::string_view kMacAllFileOpenError = "MACAll: FileOpen error";  // status panel 1
inline constexpr std::string_view kMacAllFilePosError = "MACAll: FilePos error";
inline constexpr std::string_view kMacAllNotReadToEof = "MACAll: GenerateMAC LAST error: file not read to EOF";
inline constexpr std::string_view kMacAllGenerateMac = "MACAll: GenerateMAC ";  // stage, then kMacAllError
inline constexpr std::string_view kMacAllError = " error: ";                     // then the code's meaning
inline constexpr std::string_view kStageNames[] = {"", "FIRST", "MIDDLE", "LAST", "SINGLE"};
// GenerateMAC's codes 1 to 3
inline constexpr std::string_view kWrongCheckValue = "Wrong check value for key dorvmac";
inline constexpr std::string_view kWrongStageCall = "Wrong FIRST/MIDDLE/LAST call";
inline constexpr std::string_view kWrongChainingVector = "Wrong chaning vector error";

// MACNHD's and MACNSP's failures, after the variant's prefix
inline constexpr std::string_view kMacNhdPrefix = "MACNHD: ";
inline constexpr std::string_view kMacNspPrefix = "MACNSP: ";
inline constexpr std::string_view kFileOpenError = "FileOpen error";                 // status panel 1
inline constexpr std::string_view kGenerateMacErrorMode = "GenerateMAC error MODE: ";  // then the stage
inline constexpr std::string_view kErrorCode = " Error : ";                            // then the code

}  // namespace kalvrin::mac_texts
