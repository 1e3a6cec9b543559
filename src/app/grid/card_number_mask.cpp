// The window's switch for masked card numbers.
#include "app/grid/card_number_mask.h"

#include <QAction>
#include <QMenu>

#include "app/grid/grid_model.h"
#include "app/inspector/inspector.h"
#include "settings/settings.h"

namespace kalvrin {

CardNumberMask::CardNumberMask(QMenu& menu, GridModel& grid, MessageInspector& inspector)
    : QObject(&menu), grid_(grid), inspector_(inspector) {
  maskAction = menu.addAction("Mask card numbers");
  maskAction->setObjectName("MaskCardNumbers");
  maskAction->setCheckable(true);
  maskAction->setChecked(false);
  connect(maskAction, &QAction::toggled, this, &CardNumberMask::apply);
}

bool CardNumberMask::on() const { return maskAction->isChecked(); }

void CardNumberMask::setOn(bool on) { maskAction->setChecked(on); }

void CardNumberMask::readSettings(const IniFile& ini) { setOn(ini.ReadBool(kViewSection, kMaskCardNumbersKey, false)); }

// A first run's file holds the window's seven entries alone: the switch is
// written once it has been on.
void CardNumberMask::writeSettings(IniFile& ini) const {
  if (on() || ini.ReadBool(kViewSection, kMaskCardNumbersKey, false)) ini.WriteBool(kViewSection, kMaskCardNumbersKey, on());
}

void CardNumberMask::apply(bool on) {
  grid_.setMaskCardNumbers(on);
  inspector_.setMaskCardNumbers(on);
}

}  // namespace kalvrin
