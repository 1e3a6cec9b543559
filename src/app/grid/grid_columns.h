// The columns of FormatGrid as the user arranges them: which ones show
// (chosen in the configuration dialog and kept in the settings file's own
// section), widths set by hand, which the grid set-up leaves alone until
// the next start, and fitting the widths to the rows on screen.
#pragma once

#include <QObject>

#include <string>
#include <vector>

class QTableView;

namespace kalvrin {

class IniFile;

inline constexpr char kGridSection[] = "Grid";
inline constexpr char kHiddenColumnsKey[] = "HiddenColumns";

class GridColumns : public QObject {
  Q_OBJECT

 public:
  explicit GridColumns(QTableView& view, QObject* parent = nullptr);

  // Shown columns: every column unless the user has hidden it.
  bool shown(int column) const;
  void setShown(int column, bool shown);
  std::vector<int> shownColumns() const;  // of the view's columns, left to right

  // The hidden columns as the settings file keeps them: column numbers
  // separated by commas ("5,6,30"); anything else in the value is ignored.
  void readSettings(const IniFile& ini);
  void writeSettings(IniFile& ini) const;
  static std::string HiddenText(const std::vector<bool>& hidden);
  static std::vector<bool> ParseHidden(const std::string& text);

  // True once the user has set the column's width, by dragging its edge or
  // by fitting; a width the grid set-up gives it afterwards gives way to the
  // user's.
  bool setByHand(int column) const;

  // Every shown column as wide as its title and the texts of the rows on
  // screen, so that it costs the same on a million rows as on ten.
  void fitToContents();

 signals:
  void shownChanged(int column, bool shown);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Apply();
  void SetHandWidth(int column, int width);
  int ContentWidth(int column, int firstRow, int lastRow) const;

  QTableView& view_;
  std::vector<bool> hidden_;  // by column; missing entries are shown
  std::vector<int> handWidths_;  // by column; 0 where the user has set none
  bool dragging_ = false;      // a mouse button is down on the header
  bool applying_ = false;      // widths changing by the program's hand
};

}  // namespace kalvrin
