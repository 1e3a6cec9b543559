// The Go to offset dialog and the reading of its offset.
#include "app/inspector/go_to_offset.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace kalvrin {

namespace {
bool IsDigitOf(QChar c, int base) {
  if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) return true;
  const QChar lower = c.toLower();
  return base == 16 && lower >= QLatin1Char('a') && lower <= QLatin1Char('f');
}
}  // namespace

std::optional<std::int64_t> ParseOffset(const QString& text) {
  const QString trimmed = text.trimmed();
  const bool hex = trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
  const int base = hex ? 16 : 10;
  const QString digits = hex ? trimmed.mid(2) : trimmed;
  // toLongLong would also take a sign, spaces and other scripts' digits.
  if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [base](QChar c) { return IsDigitOf(c, base); })) {
    return std::nullopt;
  }
  bool ok = false;
  const qlonglong value = digits.toLongLong(&ok, base);
  if (!ok || value < 0) return std::nullopt;
  return static_cast<std::int64_t>(value);
}

GoToOffsetDialog::GoToOffsetDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("GoToOffset");
  setWindowTitle(goto_text::kTitle);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(goto_text::kPrompt, this));
  txtOffset = new QLineEdit(this);
  txtOffset->setObjectName("txtOffset");
  layout->addWidget(txtOffset);
  labRefusal = new QLabel(this);
  labRefusal->setObjectName("labRefusal");
  labRefusal->setWordWrap(true);
  labRefusal->setStyleSheet(QStringLiteral("color: #ff0000;"));
  labRefusal->hide();
  layout->addWidget(labRefusal);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &GoToOffsetDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &GoToOffsetDialog::reject);
  layout->addWidget(buttons);
  connect(txtOffset, &QLineEdit::textEdited, labRefusal, &QLabel::hide);
}

void GoToOffsetDialog::accept() {
  const std::optional<std::int64_t> offset = ParseOffset(txtOffset->text());
  if (!offset) {
    labRefusal->setText(QString::fromLatin1(goto_text::kNotAnOffset).arg(txtOffset->text()));
    labRefusal->show();
    txtOffset->setFocus();
    txtOffset->selectAll();
    return;
  }
  offset_ = *offset;
  QDialog::accept();
}

}  // namespace kalvrin
