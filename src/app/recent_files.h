// The files a user checked lately, newest first, kept in a section of their
// own in the settings file so that the window's seven entries stay as they
// are.
#pragma once

#include <QString>
#include <QStringList>


namespace kalvrin {

class IniFile;

class RecentFiles {
 public:
  static constexpr int kMaxFiles = 8;
  static constexpr const char* kSection = "RecentFiles";

  const QStringList& files() const { return files_; }
  // Puts `file` first; an entry already in the list moves up, the oldest
  // beyond kMaxFiles drops off.
  void add(const QString& file);
  void clear() { files_.clear(); }

  // Entries File1..File8 of the section; none when the section is missing.
  void read(const IniFile& ini);
  // Writes the section into the settings as they are about to be saved; a
  // file that never had the section does not get an empty one.
  void write(IniFile& ini) const;

 private:
  QStringList files_;
  bool stored_ = false;  // the settings file held the section when loaded
};

}  // namespace kalvrin
