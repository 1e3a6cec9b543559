// The columns of FormatGrid as the user arranges them: which ones show
// (chosen in the configuration dialog), widths set by hand, and fitting the
// widths to the rows on screen, after each check unless the user turned
// that off. The grid set-up's widths are where the columns start; a width
// set by hand wins over both the set-up and the fit after a check, until
// Fit columns or Reset column widths. All of it is kept in the settings
// file's own section.
#pragma once

#include <QObject>

#include <string>
#include <vector>

class QTableView;

namespace kalvrin {

class IniFile;

inline constexpr char kGridSection[] = "Grid";
inline constexpr char kHiddenColumnsKey[] = "HiddenColumns";
inline constexpr char kColumnWidthsKey[] = "ColumnWidths";
inline constexpr char kFitAfterCheckKey[] = "FitAfterCheck";

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
  // Hand-set widths the same way: "column:width" pairs ("1:80,5:190"), a
  // width of 0 for none; pairs out of range are ignored.
  static std::string WidthsText(const std::vector<int>& widths);
  static std::vector<int> ParseWidths(const std::string& text);

  // True once the user has set the column's width by dragging its edge; a
  // width the grid set-up or a fit after a check gives it afterwards gives
  // way to the user's.
  bool setByHand(int column) const;

  // Every shown column as wide as its title and the texts of the rows on
  // screen as they are shown (masked, filtered), so that it costs the same
  // on a million rows as on ten; at most kMaxFitWidth. Rec# also holds the
  // highest record number. Widths set by hand are given up.
  void fitToContents();
  // The same after a check, sparing the widths set by hand; nothing while
  // the user has turned it off.
  void fitAfterCheck();
  bool fitsAfterCheck() const { return fitAfterCheck_; }
  void setFitAfterCheck(bool on) { fitAfterCheck_ = on; }
  // The grid set-up's widths again, the hand-set ones given up.
  void resetWidths();

  static constexpr int kMaxFitWidth = 400;  // a long element (P55, P63) should not push the rest off the screen

 signals:
  void shownChanged(int column, bool shown);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Apply();
  void ApplyHandWidths();
  void SetHandWidth(int column, int width);
  void Fit(bool spareHandWidths);
  int ContentWidth(int column, int firstRow, int lastRow) const;

  QTableView& view_;
  std::vector<bool> hidden_;  // by column; missing entries are shown
  std::vector<int> handWidths_;  // by column; 0 where the user has set none
  bool dragging_ = false;      // a mouse button is down on the header
  bool applying_ = false;      // widths changing by the program's hand
  bool fitAfterCheck_ = true;
};

}  // namespace kalvrin
