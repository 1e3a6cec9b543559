// Tool > Mask card numbers: the grid, whatever it copies or exports, and the
// inspector show card numbers with only their first six and last four digits.
// Off by default; the settings file keeps the choice in a section of its own,
// beside the seven entries of the window.
#pragma once

#include <QObject>

class QAction;
class QMenu;

namespace kalvrin {

class GridModel;
class IniFile;
class MessageInspector;

inline constexpr const char* kViewSection = "View";
inline constexpr const char* kMaskCardNumbersKey = "MaskCardNumbers";

class CardNumberMask : public QObject {
  Q_OBJECT

 public:
  // Adds the checkable action to the menu.
  CardNumberMask(QMenu& menu, GridModel& grid, MessageInspector& inspector);

  QAction* maskAction = nullptr;

  bool on() const;
  void setOn(bool on);
  void readSettings(const IniFile& ini);
  void writeSettings(IniFile& ini) const;

 private:
  void apply(bool on);

  GridModel& grid_;
  MessageInspector& inspector_;
};

}  // namespace kalvrin
