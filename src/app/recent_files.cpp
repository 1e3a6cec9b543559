// The recent-files list and its section of the settings file.
#include "app/recent_files.h"

#include <QFile>

#include <algorithm>
#include <string>

#include "settings/settings.h"

namespace kalvrin {

namespace {
std::string KeyOf(int index) { return "File" + std::to_string(index + 1); }
}  // namespace

void RecentFiles::add(const QString& file) {
  if (file.isEmpty()) return;
  files_.removeAll(file);
  files_.prepend(file);
  while (files_.size() > kMaxFiles) files_.removeLast();
}

void RecentFiles::read(const IniFile& ini) {
  files_.clear();
  for (int i = 0; i < kMaxFiles; ++i) {
    const std::string file = ini.ReadText(kSection, KeyOf(i).c_str(), "");
    if (!file.empty()) add(QFile::decodeName(QByteArray::fromStdString(file)));
  }
  stored_ = !files_.isEmpty();
  // add() put the oldest first: the file lists the newest first.
  std::reverse(files_.begin(), files_.end());
}

void RecentFiles::write(IniFile& ini) const {
  if (files_.isEmpty() && !stored_) return;
  for (int i = 0; i < kMaxFiles; ++i) {
    const QByteArray file = i < files_.size() ? QFile::encodeName(files_[i]) : QByteArray();
    ini.WriteText(kSection, KeyOf(i).c_str(), std::string_view(file.constData(), static_cast<std::size_t>(file.size())));
  }
}

}  // namespace kalvrin
