// The MAC page's Explain: a red MAC under the right key in a file too large
// to explain as the MAC check ends gets its explanation as a command of its
// own, busy, stoppable and with progress as the other commands are. The
// button stands only while the verdict it would explain does.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "app/app_texts.h"
#include "app/busy_state.h"
#include "app/form_surface.h"
#include "app/main_form.h"
#include "io/transaction_file.h"
#include "mac/mac_explain.h"

namespace kalvrin {

void TMainForm::OfferExplanation(std::optional<ExplainOffer> offer) {
  explainOffer_ = std::move(offer);
  ExplainButton->setVisible(explainOffer_.has_value());
  ExplainButton->setEnabled(explainOffer_.has_value() && commands_.idle());
}

bool TMainForm::ShowCommandProgress(std::int64_t done, std::int64_t total) {
  // The bar counts bytes while they fit its range, thousandths beyond.
  const bool fits = total <= std::numeric_limits<int>::max();
  surface_->setProgressMax(fits ? static_cast<int>(total) : 1000);
  surface_->setProgressPosition(fits ? static_cast<int>(done)
                                     : static_cast<int>(done * 1000 / std::max<std::int64_t>(total, 1)));
  surface_->processEvents();
  return !commands_.stopping();
}

void TMainForm::ExplainClick() {
  if (!commands_.idle() || !explainOffer_) return;
  // A key put into the edit without typing it: the verdict is of the key before.
  if (txtCHECKKey->text().toLatin1().toStdString() != explainOffer_->key) {
    MarkVerdictStale();
    return;
  }
  const ExplainOffer offer = *explainOffer_;
  std::optional<MacExplanation> explanation;
  bool changed = false;
  Guarded([this, &offer, &explanation, &changed] {
    BusyState busy(commands_, Command::Explain, CommandWidgets(), *surface_, ExplainButton);
    TransactionFile file(std::string_view(offer.path.constData(), static_cast<std::size_t>(offer.path.size())));
    // Another content under the name would be explained against the MACs of the one checked.
    changed = !file.IsOpen() || file.Identity() != offer.file;
    if (changed) return;
    const QString said = StatusPanels[kCommandPanel]->text();
    surface_->setStatus(kCommandPanel, app_text::kExplaining);
    surface_->setProgressMin(0);
    surface_->setProgressPosition(0);
    explanation = ExplainFileMac(file, offer.key, &offer.known, [this](std::int64_t done, std::int64_t total) {
      return ShowCommandProgress(done, total);
    });
    surface_->setStatus(kCommandPanel, said.toLatin1().toStdString());
  });
  if (EndStoppedCommand(app_text::kExplainStopped)) return;
  if (!changed && !explanation) return;  // an error the window has shown
  Guarded([this, &explanation] {
    OfferExplanation(std::nullopt);
    if (!explanation) {
      surface_->setStatus(kCommandPanel, app_text::kExplainFileChanged);
      surface_->flush();
      return;
    }
    macExplanation_ = QString::fromLatin1(ExplanationLine(*explanation));
    ShowVerdict(verdictKcv_);
  });
}

}  // namespace kalvrin
