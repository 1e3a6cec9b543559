// kalvrin-check iso FILE [--elements]: the ISO button on a fresh window, and
// with --elements every message taken apart element by element.
#include <memory>
#include <optional>


#include "headless/check_app.h"
#include "headless/element_listing.h"
#include "iso/iso_commands.h"
#include "iso/iso_texts.h"
#include "iso/message_decoder.h"
#include "iso/pan_mask.h"

namespace kalvrin {

namespace {

struct IsoOptions {
  bool elements = false;
};

// Each row's message is decoded from the file as soon as the row is final,
// so the listing streams like the CSV does.
void StreamElements(CheckContext& context, MessageReader& reader) {
  std::ostream& out = context.out;
  const bool json = context.format == OutputFormat::Json;
  HeadlessSurface& surface = context.surface;
  const bool mask = context.maskCardNumbers;
  surface.setRowSink(
      [&out, &reader, &surface, json, mask, line = std::string()](int row, std::span<const std::string_view>) mutable {
        const std::int64_t offset = surface.gridRowOffset(row);
        if (offset == kNoRowOffset) return;  // the title row
        DecodedMessage message = reader.Decode(offset);
        const std::optional<ChipListing> chip = ReadChipListing(message, reader, mask);
        if (mask) MaskCardNumbers(message);
        line.clear();
        if (json) {
          AppendMessageJson(line, row, message, chip ? &*chip : nullptr);
          line += '\n';
        } else {
          AppendMessageListing(line, row, message, chip ? &*chip : nullptr);
        }
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
      },
      kLiveRows);
}

CheckOutcome RunIso(CheckContext& context, const IsoOptions& options) {
  CheckOutcome outcome;
  std::unique_ptr<MessageReader> reader;
  if (options.elements) {
    reader = std::make_unique<MessageReader>(context.path);
    StreamElements(context, *reader);
  }
  IsoOutcome iso;
  outcome.result = IsoCommand(context.formatCheck, context.surface, context.path, iso);
  outcome.outcome = iso.outcome;
  if (reader) {
    context.surface.flushRows();
    outcome.printed = true;
  }
  switch (iso.reason) {
    case IsoReason::Processed: break;
    case IsoReason::CannotReadFile:
      outcome.error = OpenFailureText(iso_text::kCannotOpenFile, context.path);
      // a report of a start-up window would only repeat the error line; the
      // JSON keeps the window state, as its contract says
      if (context.format == OutputFormat::Text) outcome.printed = true;
      break;
    case IsoReason::BadPrefix:
      // the bad length prefix, and where it stands in the file
      outcome.error = FileTextForLine(context.surface.status(kCommandPanel)) + " at offset " +
                      OffsetText(context.formatCheck.ErrorOffset());
      break;
    case IsoReason::Stopped: outcome.error = FileTextForLine(context.surface.status(kCommandPanel)); break;
    case IsoReason::FileChanged:
      outcome.error = PathForLine(context.path) + ": " + std::string(iso_text::kFileChanged);
      break;
    case IsoReason::EndsInsideMessage:
      outcome.error = "File ends inside message " + std::to_string(context.formatCheck.state().recordCount);
      break;
  }
  return outcome;
}

std::function<CheckOutcome(CheckContext&)> DeclareIso(CommandOptions& app) {
  auto options = std::make_shared<IsoOptions>();
  app.flag(
      "--elements", options->elements,
      "print every message with all of its present elements and their file offsets (one JSON object per message "
      "with --json), streamed as the check reads")
      .excludes(app.find("--csv"));
  return [options](CheckContext& context) { return RunIso(context, *options); };
}

}  // namespace

Subcommand IsoSubcommand() {
  return {"iso", "run the format check (the ISO button) and print the grid", DeclareIso};
}

}  // namespace kalvrin
