// kalvrin-chip-bench: what a click on a chip transaction's row costs. The
// inspector's listing of a message whose P55 is full (127 bytes, the most
// its 255 characters hold, written by the generator's chip writer), from
// asking for it to its having been painted, beside the same message without
// P55; and the P55 reader alone on that element. Offscreen.
//   kalvrin-chip-bench [benchmark options]
#include <QAbstractItemModel>
#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/inspector/inspector.h"
#include "iso/emv_tlv.h"
#include "testgen/chip_data.h"
#include "testgen/filegen.h"

namespace {

constexpr std::size_t kFullChipText = 254;  // 127 bytes; a 255th character would be half a byte

// Every tag whose bits are spelled out, with as many of those bits set as
// their tables name (the most child rows a P55 of this size gives), the
// amount, currency and date beside the message's own, and 9F10 in the
// common core layout.
std::string FullChipData() {
  const std::vector<kalvrin::filegen::ChipObject> objects = {
      {"5A", "4761739001010119"},
      {"82", "7D00"},
      {"95", "FEF8FCF8F0"},
      {"9A", "261209"},
      {"9B", "FC00"},
      {"5F34", "01"},
      {"5F2A", "0978"},
      {"9F02", "000000012345"},
      {"9F10", "0FA50103A40000000000000000000000" "0F000000000000000000000000000000"},
      {"9F1A", "0040"},
      {"9F26", "1A2B3C4D5E6F7081"},
      {"9F27", "80"},
      {"9F33", "E0F8E8"},
      {"9F34", "5E0302"},
      {"9F36", "0001"},
      {"9F37", "9C1D2E3F"},
  };
  return kalvrin::filegen::WriteChipData(objects);
}

// A purchase as the generator writes one, with or without the chip data.
std::string Transaction(bool chip) {
  std::map<int, std::string> elements = {
      {2, "4761739001010119"}, {3, "000000"}, {4, "000000012345"}, {7, "1209101530"},
      {11, "000001"}, {12, "261209101530"}, {14, "2712"}, {22, "51010151134C"},
      {24, "200"}, {26, "5999"}, {37, "123456789012"}, {41, "TERM0001        "},
      {42, "MERCHANT0000001"}, {43, "SAMPLE SHOP   VIENNA    AT"}, {49, "978"}, {71, "00000002"},
  };
  if (chip) elements[kalvrin::emv::kChipDataElement] = FullChipData();
  return kalvrin::filegen::BuildMessage("1240", elements);
}

// The message alone in a file, as one record.
struct MessageFile {
  QTemporaryDir folder;
  std::string path = folder.filePath("chip.dat").toStdString();
  bool written = false;
  explicit MessageFile(const std::string& message) {
    std::ofstream out(path, std::ios::binary);
    out << message << "\r\n";
    written = folder.isValid() && static_cast<bool>(out.flush());
  }
};

// Arg 1: the message with its full P55; 0: the same message without P55.
// One iteration is what a click on the row's P55 cell sets off: the message
// decoded and listed, P55's line selected and its bytes highlighted, the
// pending events handled and the inspector painted.
void BM_InspectorListing(benchmark::State& state) {
  const bool chip = state.range(0) != 0;
  const std::string fullChip = FullChipData();
  if (fullChip.size() != kFullChipText || !kalvrin::emv::DecodeTlv(fullChip).WellFormed()) {
    state.SkipWithError("the chip data is not 127 well-formed bytes");
    return;
  }
  const MessageFile file(Transaction(chip));
  if (!file.written) {
    state.SkipWithError("cannot write the message's file");
    return;
  }
  kalvrin::MessageInspector inspector;
  inspector.resize(1200, 320);
  inspector.show();
  QCoreApplication::processEvents();
  const int part = chip ? kalvrin::emv::kChipDataElement : 2;
  inspector.showMessage(file.path, 1, 0);
  if (!inspector.selectPart(part)) {
    state.SkipWithError("the listing has no line for the element");
    return;
  }
  for (auto _ : state) {
    inspector.showMessage(file.path, 1, 0);
    inspector.selectPart(part);
    QCoreApplication::processEvents();
    inspector.repaint();
  }
  state.counters["rows"] = inspector.ElementGrid->model()->rowCount();
}
BENCHMARK(BM_InspectorListing)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reader alone on the same P55. Arg 0: the element taken apart into its
// objects; 1: also every value as the listing shows it and the names of the
// set bits.
void BM_ReadFullP55(benchmark::State& state) {
  const bool shown = state.range(0) != 0;
  const std::string chip = FullChipData();
  std::size_t objects = 0;
  for (auto _ : state) {
    const kalvrin::emv::TlvData tlv = kalvrin::emv::DecodeTlv(chip);
    std::size_t characters = 0;
    for (const kalvrin::emv::TlvObject& object : tlv.objects) {
      if (!shown) break;
      characters += kalvrin::emv::ShownValue(tlv, object, false).size();
      if (kalvrin::emv::HasBitNames(object.tag)) characters += kalvrin::emv::BitNames(object.tag, tlv.Value(object)).size();
    }
    objects = tlv.objects.size();
    benchmark::DoNotOptimize(characters);
    benchmark::DoNotOptimize(tlv.objects.data());
  }
  state.counters["objects"] = static_cast<double>(objects);
}
BENCHMARK(BM_ReadFullP55)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
