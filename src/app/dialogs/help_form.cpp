// The help window and its text.
#include "app/dialogs/help_form.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace kalvrin {

namespace {

constexpr const char* kHelpText = R"(# KALVRIN

A test tool for batch files of ISO 8583:1993 card-transaction messages.
Type or pick (**Open**, Ctrl+O, or drop a file onto the window) the path of
a transaction file, then run one of its checks. The tool never writes the
transaction file.

## ISO: the format check

Press **ISO** (or Enter in the file edit). Every message is found by its
MTI, its two hexadecimal bitmaps are read, every marked data element is
taken apart by a fixed table of 128 element definitions, and each message
becomes one row of the grid on the ISO8583 page. A bad length prefix stops
the check with a message naming the element; its row is then selected.

Selecting a row opens the message inspector below the grid: every present
element of that message with its format, length prefix, length, value and
where it stands in the file, beside a hex view of the message's bytes.
Hover over a cell for its whole text, over a column title for the element's
name and format. **Clear** or Escape during a check stops it and clears.

## MAC: the MAC check

Press **MAC**. Under the key in the Params group (16 hexadecimal digits)
the tool makes the key check value, finds the file's MAC envelope (60-byte
MAC header record, 1644 file header, 1844/971 MAC trailer), shows what the
file declares in the MAC group and computes the file's MAC in three
variants on the DES- SMAC page:

- MACALL: all file records and bytes included;
- MACNHD: no MAC header or trailer records, no line ends;
- MACNSP: as MACNHD, and no padding spaces.

A result equal to the file's MAC is green and marked ✓, any other red and
marked ✗. A line below them says which variant matches, and whether the
key's check value is the file's: when it is not, the key is wrong, not the
file.

## Verify: every fault of a batch file

`kalvrin-check verify FILE... [--key HEX]` reads each file once, front to
back, with the format check's framing, and reports every fault it finds
instead of stopping at the first: the MAC envelope, each message's framing,
its elements, the batch's message numbers, duplicates and reconciliation
totals, and with `--key` the declared MAC. Each finding names its severity,
rule, record (counted as the grid's Rec#) and the file offset of the first
offending byte.

## Command line

`kalvrin FILE` starts the window with FILE in the file edit.
`kalvrin-check iso|mac FILE` runs the checks without a window.
)";

}  // namespace

HelpForm::HelpForm(QWidget* parent) : QDialog(parent) {
  setObjectName("HelpForm");
  setWindowTitle(QStringLiteral("KALVRIN Help"));
  Text = new QTextBrowser(this);
  Text->setObjectName("HelpText");
  Text->setMarkdown(QString::fromUtf8(kHelpText));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text);
  resize(520, 560);
}

}  // namespace kalvrin
