#include "app/gui/result_view_state.h"

#include "app/core/results/text_formats.h"
#include "app/gui/apply_section.h"

namespace dunmere::gui {

void ResultViewState::Load(std::vector<FoundItemRecord> found) {
  // The checked entries leave before the records they were made from.
  const CheckedMap kept = checked.Detach();
  results = std::move(found);
  groups.Build(results);
  checked.Attach(results, groups, kept);
  layout = {};
  folders.Clear();
  groupIcons.clear();
  listedGroup = listedCategory = listedFolder = kNone;
  rows.clear();
  rowIcon.clear();
  folders_.assign(results.size(), std::nullopt);
}

void ResultViewState::Reset() {
  folders_.clear();
  checked.Clear();
  results.clear();
  results.shrink_to_fit();
  groups.Clear();
  checked.Attach(results, groups);
  layout = {};
  folders.Clear();
  groupIcons.clear();
  listedGroup = listedCategory = listedFolder = kNone;
  rows.clear();
  rows.shrink_to_fit();
  rowIcon.clear();
}

CheckState ResultViewState::ListedState() const {
  if (listedGroup != kNone) return checked.GroupState(size_t(listedGroup));
  if (listedCategory != kNone) return checked.StateOf(layout.GroupsOf(Category(listedCategory)));
  if (listedFolder != kNone) return StateOfCounts(ListedChecked(), rows.size());
  return CheckState::kUnchecked;
}

uint64_t ResultViewState::ListedChecked() const {
  if (listedGroup != kNone) return checked.GroupChecked(size_t(listedGroup));
  if (listedFolder == kNone) return 0;
  uint64_t n = 0;
  for (uint32_t i : rows) n += checked.IsChecked(i) ? 1 : 0;
  return n;
}

QString ResultViewState::Icon(int row) const {
  if (!rowIcon.isEmpty() || row < 0 || size_t(row) >= rows.size()) return rowIcon;
  const uint32_t g = groups.GroupOf(rows[size_t(row)]);
  return g < groupIcons.size() ? groupIcons[g] : QString();
}

int ResultViewState::CategoryOfGroup(size_t group) const {
  for (int c = 0; c < kCategoryCount; ++c)
    for (const TypeNodeInfo& n : layout.nodes[size_t(c)])
      if (n.group == group) return c;
  return kNone;
}

namespace {

QString TimeText(uint64_t fileTime) {
  if (fileTime == 0) return QString::fromLatin1(kNoText);
  const std::string t = FormatFileTime(fileTime);
  return t.empty() ? QString::fromLatin1(kNoText) : QString::fromStdString(t);
}

}  // namespace

QString ResultViewState::Cell(int row, int column) const {
  if (row < 0 || size_t(row) >= rows.size()) return {};
  const FoundItemRecord& r = RecordOfRow(row);
  if (column == columns.name) {
    const std::string_view n = RecordNameView(r);
    return QString::fromUtf8(n.data(), qsizetype(n.size()));
  }
  if (column == columns.size) return r.isFolder ? QString() : QString::fromStdString(FormatSize(int64_t(r.size)));
  if (column == columns.modified) return TimeText(r.modified);
  if (column == columns.created) return TimeText(r.created);
  if (column == columns.path) return FolderText(rows[size_t(row)]);
  if (column == columns.type) {
    // Folders and names without an extension get a word, in the language shown.
    if (r.isFolder) return MessageText("MSG0813");
    const std::string_view t = TypeText(r);
    if (RecordNameView(r).find('.') == std::string_view::npos) return MessageText("MSG0814");
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
  }
  return {};
}

QString ResultViewState::FolderText(uint32_t index) const {
  if (index >= results.size()) return {};
  if (folders_.size() != results.size()) folders_.assign(results.size(), std::nullopt);
  std::optional<QString>& text = folders_[index];
  if (!text) {
    std::string folder;
    if (folderOf && folderOf(results[index], folder))
      text = QStringLiteral("/") + QString::fromUtf8(folder.data(), qsizetype(folder.size()));
    else
      text = QString::fromLatin1(kNoText);
  }
  return *text;
}

QString ResultViewState::ToolTip(int row, int column) const {
  if (row < 0 || size_t(row) >= rows.size()) return {};
  if (column != columns.name) return Cell(row, column);
  const QString folder = FolderText(rows[size_t(row)]);
  const QString name = Cell(row, column);
  const QString tip = folder.startsWith(u'/') ? folder + name : name;
  // A carved file whose own structure does not close says so before it is copied.
  if (RecordOfRow(row).contentOk == kContentPartial) return tip + QStringLiteral(" (") + MessageText("MSG1370") + u')';
  return tip;
}

int ResultViewState::Check(int row) const {
  if (row < 0 || size_t(row) >= rows.size()) return -1;
  return checked.IsChecked(rows[size_t(row)]) ? Qt::Checked : Qt::Unchecked;
}

}  // namespace dunmere::gui
