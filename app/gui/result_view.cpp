#include "app/gui/result_view.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetrics>
#include <QStyle>
#include <QTextEdit>
#include <QTreeWidgetItem>

#include "app/core/language/message_format.h"
#include "app/core/settings/user_settings.h"
#include "app/core/results/text_formats.h"
#include "app/gui/apply_section.h"
#include "app/gui/result_view_state.h"
#include "ui/file_tree.h"
#include "ui/list_ui.h"

namespace dunmere::gui {

namespace {

constexpr const char* kCategoryNodes[kCategoryCount] = {"NodePhoto",  "NodeAudio", "NodeVideo",
                                                        "NodeOffice", "NodeZip",   "NodeOther"};
constexpr const char* kCategoryCaptions[kCategoryCount] = {"MSG0807", "MSG0808", "MSG0809",
                                                           "MSG0810", "MSG0811", "MSG0812"};
constexpr const char* kContainers[kCategoryCount] = {"FileTypePhoto",  "FileTypeAudio", "FileTypeVideo",
                                                     "FileTypeOffice", "FileTypeZip",   "FileTypeOther"};
const QString kHeaderPicture = QStringLiteral("file='list_header_bg.png' corner='0,1,0,1'");
const QString kHeaderAscPicture = QStringLiteral("file='list_header_asc.png' corner='0,1,13,1'");
const QString kHeaderDescPicture = QStringLiteral("file='list_header_desc.png' corner='0,1,13,1'");

// Where the widths the person gave the list's columns are kept, per user:
// "Size:96;ModifiedTime:140;..." by header item name.
constexpr const char* kWidthsSection = "FileList";
constexpr const char* kWidthsKey = "ColumnWidths";

// Tells of the mouse on the list's header: a width changed between a press
// and its release is the person's; the release ends the drag.
class HeaderMouseWatch : public QObject {
 public:
  HeaderMouseWatch(QObject* parent, std::function<void(bool down)> onButton, std::function<void()> onResize)
      : QObject(parent), onButton_(std::move(onButton)), onResize_(std::move(onResize)) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick) onButton_(true);
    else if (e->type() == QEvent::MouseButtonRelease) onButton_(false);
    else if (e->type() == QEvent::Resize) onResize_();
    return false;
  }

 private:
  std::function<void(bool)> onButton_;
  std::function<void()> onResize_;
};

// Extension nodes keep their group here; category nodes have none.
constexpr int kGroupRole = ui::FileTree::kTagRole;

Qt::CheckState ToQt(CheckState s) { return Qt::CheckState(int(s)); }

// The option with this user data as the file-type page of the window has it
// (its caption, picture and container); the program's own table when the
// window has no such page.
std::optional<TypeOptionInfo> ResolveOption(const ui::WindowImplBase& wnd, const std::string& userData) {
  const QString wanted = QString::fromStdString(userData);
  for (QAbstractButton* b : wnd.findChildren<QAbstractButton*>()) {
    if (b->property("userdata").toString() != wanted) continue;
    std::optional<TypeOptionInfo> info = BuiltInTypeOption(userData);
    if (!info) info = TypeOptionInfo{};
    info->userData = userData;
    // The caption in the language shown now, whether or not the page has
    // been recaptioned yet.
    const QString builtIn = b->property("caption").toString();
    const QString text = builtIn.isEmpty() ? b->text() : FileTypeCaption(builtIn);
    if (!text.isEmpty()) info->text = text.toStdString();
    const QString picture = b->property("picture").toString();
    if (!picture.isEmpty()) info->picture = picture.toStdString();
    for (QObject* p = b->parent(); p; p = p->parent())
      for (int c = 0; c < kCategoryCount; ++c)
        if (p->objectName() == QLatin1String(kContainers[c])) {
          info->category = Category(c);
          return info;
        }
    return info;
  }
  return BuiltInTypeOption(userData);
}

}  // namespace

ResultView::ResultView(ui::WindowImplBase& mainWindow)
    : wnd_(mainWindow), state_(std::make_unique<ResultViewState>()) {
  Bind();
  RefreshSummary();
}

void ResultView::Bind() {
  // The view may be made before the window's layout is built: the controls
  // are looked up again until they are there.
  if (!tree_ && (tree_ = wnd_.Find<ui::FileTree>(QStringLiteral("TypeTree"))))
    tree_->setTextElideMode(Qt::ElideMiddle);  // a long type name gives way before its count
  if (!folderTree_ && (folderTree_ = wnd_.Find<ui::FileTree>(QStringLiteral("FolderTree"))))
    folderTree_->setTextElideMode(Qt::ElideMiddle);
  if (!list_ && (list_ = wnd_.Find<ui::ListBox>(QStringLiteral("FileList")))) {
    ResultListColumns& c = state_->columns;
    c.check = list_->Model()->checkColumn;
    c.name = list_->ColumnIndex(QStringLiteral("FileName"));
    c.size = list_->ColumnIndex(QStringLiteral("Size"));
    c.modified = list_->ColumnIndex(QStringLiteral("ModifiedTime"));
    c.created = list_->ColumnIndex(QStringLiteral("CreatedTime"));
    c.path = list_->ColumnIndex(QStringLiteral("Path"));
    c.type = list_->ColumnIndex(QStringLiteral("Type"));
    list_->SetRowSource(state_.get());
    QHeaderView* header = list_->Header();
    resized_ = QObject::connect(header, &QHeaderView::sectionResized, list_, [this](int column, int, int) {
      if (dragging_ && !fitting_ && PersonSizes(column)) {
        widthsChanged_ = true;
        if (column == state_->columns.path) pathSized_ = true;
      }
    });
    mouseWatch_ = new HeaderMouseWatch(
        header,
        [this](bool down) {
          dragging_ = down;
          if (!down) SaveColumnWidths();
        },
        [this] { ApplyPathWidth(); });
    header->viewport()->installEventFilter(mouseWatch_);
    ApplyStoredWidths();
  }
}

bool ResultView::PersonSizes(int column) const {
  // The check column has its box's width; the stretching one takes the rest.
  return column >= 0 && column != list_->Model()->checkColumn &&
         column != list_->ColumnIndex(list_->property("stretchcolumn").toString());
}

void ResultView::SaveColumnWidths() {
  if (!list_ || !widthsChanged_) return;
  widthsChanged_ = false;
  QStringList widths;
  const QStringList& names = list_->Model()->ColumnNames();
  for (int c = 0; c < names.size(); ++c)
    if (PersonSizes(c)) widths << QStringLiteral("%1:%2").arg(names[c]).arg(list_->Header()->sectionSize(c));
  (void)app::SetUserSetting(kWidthsSection, kWidthsKey, widths.join(u';').toStdString());
}

void ResultView::ApplyStoredWidths() {
  if (!list_) return;
  const QString stored = QString::fromStdString(app::UserSetting(kWidthsSection, kWidthsKey));
  const bool wasFitting = fitting_;
  fitting_ = true;
  for (const QString& item : stored.split(u';', Qt::SkipEmptyParts)) {
    const QStringList parts = item.split(u':');
    bool ok = false;
    const int width = parts.size() == 2 ? parts[1].trimmed().toInt(&ok) : 0;
    const int column = parts.size() == 2 ? list_->ColumnIndex(parts[0].trimmed()) : -1;
    // A file edited by hand may say anything: only widths a column can have.
    if (ok && width >= 8 && width <= 4000 && PersonSizes(column)) {
      list_->Header()->resizeSection(column, width);
      if (column == state_->columns.path) pathSized_ = true;
    }
  }
  fitting_ = wasFitting;
}

void ResultView::FitPathColumn() {
  const ResultViewState& s = *state_;
  const int column = s.columns.path;
  pathLongest_ = 0;
  if (!list_ || column < 0 || s.rows.empty()) return;
  const QFontMetrics fm = list_->fontMetrics();
  const int pad = 2 * list_->style()->pixelMetric(QStyle::PM_HeaderMargin) + 4;
  int longest = list_->Header()->CaptionWidth(column);
  // The rows at the top show what the node holds; a node of half a million
  // files is not measured whole.
  const size_t measured = std::min<size_t>(s.rows.size(), 400);
  for (size_t i = 0; i < measured; ++i)
    longest = std::max(longest, fm.horizontalAdvance(s.FolderText(s.rows[i])) + pad);
  pathLongest_ = longest;
  ApplyPathWidth();
}

void ResultView::ApplyPathWidth() {
  const int column = state_->columns.path;
  if (!list_ || column < 0 || pathSized_ || pathLongest_ == 0) return;
  const int width = std::min(pathLongest_, std::max(list_->viewport()->width() / 3, 60));
  if (list_->Header()->sectionSize(column) == width) return;
  const bool wasFitting = fitting_;
  fitting_ = true;
  list_->Header()->resizeSection(column, width);
  fitting_ = wasFitting;
}

void ResultView::FitColumnsToTheirTexts() {
  // Sizes, dates and types have a known longest form: their columns take
  // that and the name column the rest (the layout makes it the stretching one).
  list_->ensurePolished();  // the skin's font, not the default one
  const QFontMetrics fm = list_->fontMetrics();
  const int pad = 2 * list_->style()->pixelMetric(QStyle::PM_HeaderMargin) + 4;
  const ResultListColumns& c = state_->columns;
  // A date with two-digit month, day and hour, its digits made the widest of the font.
  QString date = QString::fromStdString(FormatFileTime(134'429'102'550'000'000ull));
  QChar widest = u'0';
  for (char16_t d = u'0'; d <= u'9'; ++d)
    if (fm.horizontalAdvance(QChar(d)) > fm.horizontalAdvance(widest)) widest = QChar(d);
  for (QChar& ch : date)
    if (ch.isDigit()) ch = widest;
  auto fit = [&](int column, const QString& longest) {
    if (column < 0) return;
    const int header = list_->Header()->CaptionWidth(column);
    list_->Header()->resizeSection(column, std::max(fm.horizontalAdvance(longest) + pad, header));
  };
  fitting_ = true;
  fit(c.size, QStringLiteral("1023.99 MB"));
  fit(c.modified, date);
  fit(c.created, date);
  fit(c.type, MessageText("MSG0813"));
  fitting_ = false;
  // The widths the person set win over the fitted ones.
  ApplyStoredWidths();
}

ResultView::~ResultView() {
  if (list_) {
    SaveColumnWidths();  // a drag the window's end cut short
    // The list outlives this view: it no longer calls back into it.
    QObject::disconnect(resized_);
    delete mouseWatch_;
    list_->SetRowSource(nullptr);
  }
}

const ResultView::CheckedSet& ResultView::Checked() const { return state_->checked.Map(); }
std::vector<const FoundItemRecord*> ResultView::CheckedRecords() const { return state_->checked.Records(); }
const std::vector<FoundItemRecord>& ResultView::Results() const { return state_->results; }

void ResultView::SetFolderSource(std::function<bool(const FoundItemRecord&, std::string&)> folderOf) {
  state_->folderOf = std::move(folderOf);
}

void ResultView::SetSourceNames(std::function<QString(uint16_t)> nameOf) { sourceName_ = std::move(nameOf); }

const FolderTree& ResultView::Folders() const { return state_->folders; }

QTreeWidgetItem* ResultView::FolderItem(uint32_t node) const {
  return node < folderItems_.size() ? folderItems_[node] : nullptr;
}

void ResultView::SetPreviewHandler(std::function<void(const FoundItemRecord&)> handler) {
  preview_ = std::move(handler);
}

int ResultView::ListedRowCount() const { return int(state_->rows.size()); }

const FoundItemRecord* ResultView::ListedRecord(int row) const {
  if (row < 0 || size_t(row) >= state_->rows.size()) return nullptr;
  return &state_->RecordOfRow(row);
}

QTreeWidgetItem* ResultView::CategoryNode(int category) const {
  return tree_ && category >= 0 && category < kCategoryCount ? tree_->Node(QLatin1String(kCategoryNodes[category]))
                                                             : nullptr;
}

void ResultView::Clear() {
  Bind();
  ui::WindowImplBase::Quiet quiet(&wnd_);
  state_->listedGroup = state_->listedCategory = state_->listedFolder = ResultViewState::kNone;
  state_->rows.clear();
  if (list_) list_->Model()->SourceReset();
  state_->Reset();
  groupNodes_.clear();
  folderItems_.clear();
  if (folderTree_) folderTree_->clear();
  if (tree_) {
    for (int c = 0; c < kCategoryCount; ++c)
      if (QTreeWidgetItem* node = CategoryNode(c)) {
        tree_->RemoveChildren(node);
        tree_->ShowCheckBox(node, false);
      }
  }
  SetCategoryCaptions();
  if (list_) list_->SetHeaderCheck(Qt::Unchecked);
  RefreshSummary();
}

void ResultView::ShowResults(std::vector<FoundItemRecord> results,
                              const std::map<std::string, std::string>& selected) {
  Bind();
  ui::WindowImplBase::Quiet quiet(&wnd_);
  // 1. The list lets go of the old rows before they are replaced.
  state_->listedGroup = state_->listedCategory = state_->listedFolder = ResultViewState::kNone;
  state_->rows.clear();
  if (list_) {
    list_->Model()->SourceReset();
    list_->SetHeaderCheck(Qt::Unchecked);
  }
  if (auto* preview = wnd_.Find<QTextEdit>(QStringLiteral("PreviewEdit"))) preview->clear();
  // The list's font is settled once the window is shown.
  if (list_) FitColumnsToTheirTexts();
  // 2. Groups and the checked set follow the new list.
  state_->Load(std::move(results));
  selected_ = selected;
  LayOut();
  // 3. The results page.
  wnd_.SetEnabled(QStringLiteral("TabRecover"), true);
  wnd_.SetChecked(QStringLiteral("TabRecover"), true);
  wnd_.SelectPage(QStringLiteral("TabPage"), 3);
  // 4.-6. The tree; the folder tree waits until it is shown.
  BuildTree(selected);
  folderItems_.clear();
  if (folderTree_) folderTree_->clear();
  if (folderView_) BuildFolderTree();
  RefreshSummary();
  SelectFirstOfShownTree();
}

void ResultView::SelectFirstOfShownTree() {
  if (folderView_) {
    QTreeWidgetItem* first = folderTree_ ? folderTree_->topLevelItem(0) : nullptr;
    if (first) folderTree_->SelectNode(first, false);
    ListFolder(first);
    if (list_ && list_->RowCount() > 0) {
      list_->SelectRow(0, false);
      OnRowSelected(0);
    }
    return;
  }
  // 7. The first node of the first category that has any, and its first row.
  for (int c = 0; c < kCategoryCount; ++c) {
    QTreeWidgetItem* cat = CategoryNode(c);
    if (!cat || cat->childCount() == 0) continue;
    tree_->SelectNode(cat->child(0), false);
    ListNode(cat->child(0));
    if (list_ && list_->RowCount() > 0) {
      list_->SelectRow(0, false);
      OnRowSelected(0);
    }
    break;
  }
}

void ResultView::SetCategoryCaptions() {
  if (!tree_) return;
  for (int c = 0; c < kCategoryCount; ++c) {
    QTreeWidgetItem* node = CategoryNode(c);
    if (!node) continue;
    QString caption = MessageText(kCategoryCaptions[c]);
    if (node->childCount() > 0) caption += QStringLiteral(" (%1)").arg(state_->layout.totals[size_t(c)]);
    tree_->SetItemText(QLatin1String(kCategoryNodes[c]), caption);
  }
}

void ResultView::BuildTree(const std::map<std::string, std::string>&) {
  groupNodes_.assign(state_->groups.size(), nullptr);
  state_->groupIcons.assign(state_->groups.size(), QString());
  if (!tree_) return;
  tree_->setUpdatesEnabled(false);
  for (int c = 0; c < kCategoryCount; ++c) {
    QTreeWidgetItem* cat = CategoryNode(c);
    if (!cat) continue;
    tree_->RemoveChildren(cat);
    tree_->SetCheck(cat, Qt::Unchecked);
    for (const TypeNodeInfo& info : state_->layout.nodes[size_t(c)]) {
      QTreeWidgetItem* node = tree_->AddNode(cat, QString(), QString::fromStdString(info.caption), true);
      node->setData(0, ui::FileTree::kUserDataRole, QString::fromStdString(info.userData));
      node->setData(0, kGroupRole, qulonglong(info.group));
      node->setData(0, Qt::UserRole + 20, QStringLiteral("filetype"));  // the node's style
      tree_->SetNodePicture(node, QString::fromStdString(info.picture));
      tree_->SetCheck(node, ToQt(state_->checked.GroupState(info.group)));
      groupNodes_[info.group] = node;
      if (state_->groupIcons.size() <= info.group) state_->groupIcons.resize(info.group + 1);
      state_->groupIcons[info.group] = QString::fromStdString(info.picture);
    }
    if (cat->childCount() > 0) {
      cat->setHidden(false);
      tree_->ShowCheckBox(cat, true);
      tree_->SetCheck(cat, ToQt(state_->checked.StateOf(state_->layout.GroupsOf(Category(c)))));
      cat->setExpanded(true);
    } else {
      tree_->ShowCheckBox(cat, false);  // nothing to check under it
    }
  }
  SetCategoryCaptions();
  tree_->setUpdatesEnabled(true);
}

void ResultView::LayOut() {
  state_->layout = LayOutTypeTree(state_->groups, selected_,
                                  [this](const std::string& userData) { return ResolveOption(wnd_, userData); });
}

void ResultView::ApplyLanguage() {
  // The type nodes' captions are made in the language: laid out again, the
  // same groups under the same categories, with their counts.
  if (tree_ && !state_->results.empty()) {
    LayOut();
    ui::WindowImplBase::Quiet quiet(&wnd_);
    for (const auto& nodes : state_->layout.nodes)
      for (const TypeNodeInfo& info : nodes)
        if (info.group < groupNodes_.size() && groupNodes_[info.group])
          tree_->SetNodeText(groupNodes_[info.group], QString::fromStdString(info.caption));
  }
  SetCategoryCaptions();
  SetFolderCaptions();
  RefreshSummary();
  // The Type column's words are the language's too.
  if (list_) list_->viewport()->update();
}

void ResultView::ListNode(QTreeWidgetItem* node) {
  if (!node) return;
  const QVariant group = node->data(0, kGroupRole);
  if (group.isValid()) {
    ListGroup(int(group.toULongLong()));
    return;
  }
  // A category node: its files are under its extension nodes.
  ListGroup(ResultViewState::kNone);
  for (int c = 0; c < kCategoryCount; ++c)
    if (CategoryNode(c) == node) state_->listedCategory = c;
  if (list_) list_->SetHeaderCheck(ToQt(state_->ListedState()));
}

void ResultView::ListGroup(int group) {
  ResultViewState& s = *state_;
  s.listedCategory = s.listedFolder = ResultViewState::kNone;
  if (group >= 0 && size_t(group) < s.groups.size()) {
    s.listedGroup = group;
    s.rows = s.groups[size_t(group)].members;
    QTreeWidgetItem* node = size_t(group) < groupNodes_.size() ? groupNodes_[size_t(group)] : nullptr;
    s.rowIcon = node ? node->data(0, ui::FileTree::kIconRole).toString() : QString();
  } else {
    s.listedGroup = ResultViewState::kNone;
    s.rows.clear();
    s.rowIcon.clear();
  }
  if (!list_) return;
  list_->Model()->SourceReset();
  FitPathColumn();
  // A fresh list is in group order: no header item shows an arrow.
  list_->SetAllHeaderPictures(kHeaderPicture);
  list_->SetHeaderCheck(ToQt(s.ListedState()));
}

void ResultView::RefreshSummary() {
  const ::dunmere::CheckedSet& c = state_->checked;
  if (c.Count() == 0) {
    wnd_.SetText(QStringLiteral("SelectedFileInfo"), MessageText("MSG0803"));
    wnd_.SetEnabled(QStringLiteral("BtnRecover"), false);
    return;
  }
  // One file is not "files".
  const std::string text = FormatMessage(MessageText(c.Count() == 1 ? "MSG0815" : "MSG0804").toStdString(),
                                         {FormatSize(int64_t(c.TotalBytes())), std::to_string(c.Count())});
  wnd_.SetText(QStringLiteral("SelectedFileInfo"), QString::fromStdString(text));
  wnd_.SetEnabled(QStringLiteral("BtnRecover"), true);
}

void ResultView::RefreshChecks(bool rows) {
  ResultViewState& s = *state_;
  if (tree_) {
    for (int c = 0; c < kCategoryCount; ++c) {
      QTreeWidgetItem* cat = CategoryNode(c);
      if (!cat) continue;
      if (cat->childCount() == 0) continue;
      for (const TypeNodeInfo& info : s.layout.nodes[size_t(c)])
        if (QTreeWidgetItem* node = groupNodes_[info.group]) tree_->SetCheck(node, ToQt(s.checked.GroupState(info.group)));
      tree_->SetCheck(cat, ToQt(s.checked.StateOf(s.layout.GroupsOf(Category(c)))));
    }
  }
  if (folderTree_ && s.folders.Built()) {
    // One pass over the list gives every folder's count; only the nodes
    // opened so far have items to show it.
    const std::vector<uint64_t> below = s.folders.CheckedBelow(s.checked);
    for (size_t i = 0; i < folderItems_.size(); ++i)
      if (QTreeWidgetItem* item = folderItems_[i]) folderTree_->SetCheck(item, ToQt(s.folders.StateOf(uint32_t(i), below)));
  }
  if (list_) {
    if (rows) list_->Model()->SourceChanged();
    list_->SetHeaderCheck(ToQt(s.ListedState()));
  }
  RefreshSummary();
}

void ResultView::OnRowCheck(int row, bool on) {
  if (row < 0 || size_t(row) >= state_->rows.size()) return;
  state_->checked.SetChecked(state_->rows[size_t(row)], on);
  // The same record may be listed twice (one key, two rows): all rows follow.
  RefreshChecks(true);
}

void ResultView::OnNodeCheck(QTreeWidgetItem* node, bool on) {
  ResultViewState& s = *state_;
  const QVariant group = node->data(0, kGroupRole);
  if (group.isValid()) {
    s.checked.SetGroup(size_t(group.toULongLong()), on);
  } else {
    for (int c = 0; c < kCategoryCount; ++c)
      if (CategoryNode(c) == node)
        for (size_t g : s.layout.GroupsOf(Category(c))) s.checked.SetGroup(g, on);
  }
  RefreshChecks(true);
}

void ResultView::SetListedState(bool on) {
  ResultViewState& s = *state_;
  if (s.listedGroup != ResultViewState::kNone) s.checked.SetGroup(size_t(s.listedGroup), on);
  else if (s.listedCategory != ResultViewState::kNone)
    for (size_t g : s.layout.GroupsOf(Category(s.listedCategory))) s.checked.SetGroup(g, on);
  else if (s.listedFolder != ResultViewState::kNone)
    for (uint32_t i : s.rows) s.checked.SetChecked(i, on);
  RefreshChecks(true);
}

void ResultView::Sort(const QString& headerItem) {
  ResultColumn column;
  if (!list_ || !ParseResultColumn(headerItem.toStdString(), column)) return;
  ResultViewState& s = *state_;
  const int direction = s.directions.Click(column);
  list_->SetAllHeaderPictures(kHeaderPicture);
  list_->SetHeaderPicture(headerItem, direction == 1 ? kHeaderAscPicture : kHeaderDescPicture);
  // The selected record stays selected where the sort puts it.
  const int current = list_->CurrentRow();
  const uint32_t selected = current >= 0 ? s.rows[size_t(current)] : 0;
  SortRows(s.rows, s.results, column, direction);
  list_->Model()->SourceReordered();
  if (current >= 0) {
    for (size_t i = 0; i < s.rows.size(); ++i)
      if (s.rows[i] == selected) {
        list_->SelectRow(int(i), false);
        break;
      }
  }
}

void ResultView::OnRowSelected(int row) {
  const FoundItemRecord* r = ListedRecord(row);
  if (!r) return;
  if (r->isFolder) {
    wnd_.SetText(QStringLiteral("PreviewEdit"), MessageText("MSG0904"));
    return;
  }
  if (preview_) preview_(*r);
}

bool ResultView::HandleNotify(const ui::Notification& n) {
  Bind();
  if (n.type == u"selectchanged" && (n.senderName == u"BtnTypeView" || n.senderName == u"BtnFolderView")) {
    if (n.wParam) ShowFolderView(n.senderName == u"BtnFolderView");
    return true;
  }
  if (folderTree_ && n.sender == folderTree_) {
    auto* item = reinterpret_cast<QTreeWidgetItem*>(quintptr(n.lParam));
    if (!item) return true;
    if (n.type == u"itemselect") ListFolder(item);
    else if (n.type == u"checkboxselectchanged") OnFolderCheck(item, n.wParam != Qt::Unchecked);
    else if (n.type == u"itemexpand" && n.wParam) MakeFolderChildren(item);
    else return false;
    return true;
  }
  if (tree_ && n.sender == tree_) {
    auto* node = reinterpret_cast<QTreeWidgetItem*>(quintptr(n.lParam));
    if (n.type == u"itemselect") {
      if (node) ListNode(node);
      return true;
    }
    if (n.type == u"checkboxselectchanged") {
      if (node) OnNodeCheck(node, n.wParam != Qt::Unchecked);
      return true;
    }
    return false;
  }
  if (!list_ || n.sender != list_) return false;
  if (n.type == u"list_check_click") {
    OnRowCheck(int(n.wParam), n.lParam != Qt::Unchecked);
    return true;
  }
  if (n.type == u"selectchanged" && n.senderName == u"ChkSelAll") {
    SetListedState(n.wParam != Qt::Unchecked);
    return true;
  }
  if (n.type == u"headerclick") {
    Sort(n.senderName);
    return true;
  }
  if (n.type == u"itemselect") {
    OnRowSelected(int(n.wParam));
    return true;
  }
  return false;
}

// ---- the folder view ----

namespace {
constexpr int kFolderNodeRole = ui::FileTree::kTagRole;
constexpr int kChildrenMadeRole = Qt::UserRole + 21;
}  // namespace

void ResultView::ShowFolderView(bool on) {
  Bind();
  ui::WindowImplBase::Quiet quiet(&wnd_);
  folderView_ = on;
  wnd_.SetChecked(QStringLiteral("BtnTypeView"), !on);
  wnd_.SetChecked(QStringLiteral("BtnFolderView"), on);
  if (tree_) tree_->setVisible(!on);
  if (folderTree_) folderTree_->setVisible(on);
  if (on && !state_->folders.Built() && !state_->results.empty()) BuildFolderTree();
  // The list shows the selected node of the tree now shown.
  ui::FileTree* shown = on ? folderTree_ : tree_;
  QTreeWidgetItem* current = shown ? shown->currentItem() : nullptr;
  if (!current) {
    SelectFirstOfShownTree();
    return;
  }
  if (on) ListFolder(current);
  else ListNode(current);
}

void ResultView::BuildFolderTree() {
  ResultViewState& s = *state_;
  folderItems_.clear();
  if (!folderTree_) return;
  folderTree_->clear();
  // A folder path per file from its engine: the one cost that grows with
  // the results, paid only when the folder view is asked for.
  s.folders.Build(s.results, s.folderOf);
  folderItems_.assign(s.folders.size(), nullptr);
  folderTree_->setUpdatesEnabled(false);
  for (uint32_t root : s.folders.Roots()) {
    QTreeWidgetItem* item = MakeFolderItem(nullptr, root);
    // A source's first level is what the user looks for first.
    MakeFolderChildren(item);
    ui::WindowImplBase::Quiet quiet(&wnd_);
    item->setExpanded(true);
  }
  RefreshChecks(false);
  folderTree_->setUpdatesEnabled(true);
}

QString ResultView::FolderCaption(uint32_t node) const {
  const FolderTree::Node& n = state_->folders[node];
  QString name;
  switch (n.kind) {
    case FolderTree::Kind::kSource:
      name = sourceName_ ? sourceName_(n.sourceTag) : QString();
      if (name.isEmpty()) name = QStringLiteral("#%1").arg(n.sourceTag);
      break;
    case FolderTree::Kind::kNoFolder:
      name = MessageText("MSG0820");
      break;
    case FolderTree::Kind::kFolder:
      name = QString::fromUtf8(n.name.data(), qsizetype(n.name.size()));
      break;
  }
  return QStringLiteral("%1 (%2)").arg(name).arg(n.total);
}

void ResultView::SetFolderCaptions() {
  if (!folderTree_) return;
  ui::WindowImplBase::Quiet quiet(&wnd_);
  for (size_t i = 0; i < folderItems_.size(); ++i)
    if (QTreeWidgetItem* item = folderItems_[i]) item->setText(0, FolderCaption(uint32_t(i)));
}

QTreeWidgetItem* ResultView::MakeFolderItem(QTreeWidgetItem* parent, uint32_t node) {
  const FolderTree::Node& n = state_->folders[node];
  QTreeWidgetItem* item = folderTree_->AddNode(parent, QString(), FolderCaption(node), true);
  item->setData(0, kFolderNodeRole, qulonglong(node));
  if (n.kind != FolderTree::Kind::kSource)
    item->setIcon(0, folderTree_->style()->standardIcon(n.kind == FolderTree::Kind::kFolder ? QStyle::SP_DirIcon
                                                                                              : QStyle::SP_FileIcon));
  // Children are made when the node is opened; the arrow shows there are some.
  item->setChildIndicatorPolicy(n.children.empty() ? QTreeWidgetItem::DontShowIndicator
                                                   : QTreeWidgetItem::ShowIndicator);
  folderItems_[node] = item;
  return item;
}

void ResultView::MakeFolderChildren(QTreeWidgetItem* item) {
  if (!folderTree_ || !item || item->data(0, kChildrenMadeRole).toBool()) return;
  const QVariant v = item->data(0, kFolderNodeRole);
  if (!v.isValid() || v.toULongLong() >= state_->folders.size()) return;
  item->setData(0, kChildrenMadeRole, true);
  const FolderTree::Node& n = state_->folders[uint32_t(v.toULongLong())];
  if (n.children.empty()) return;
  ResultViewState& s = *state_;
  const std::vector<uint64_t> below = s.folders.CheckedBelow(s.checked);
  for (uint32_t c : n.children) {
    QTreeWidgetItem* child = MakeFolderItem(item, c);
    folderTree_->SetCheck(child, ToQt(s.folders.StateOf(c, below)));
  }
}

void ResultView::ListFolder(QTreeWidgetItem* item) {
  ResultViewState& s = *state_;
  s.listedGroup = s.listedCategory = s.listedFolder = ResultViewState::kNone;
  s.rows.clear();
  s.rowIcon.clear();
  const QVariant v = item ? item->data(0, kFolderNodeRole) : QVariant();
  if (v.isValid() && v.toULongLong() < s.folders.size()) {
    s.listedFolder = int(v.toULongLong());
    s.rows = s.folders[uint32_t(s.listedFolder)].files;
  }
  if (!list_) return;
  list_->Model()->SourceReset();
  FitPathColumn();
  list_->SetAllHeaderPictures(kHeaderPicture);
  list_->SetHeaderCheck(ToQt(s.ListedState()));
}

void ResultView::OnFolderCheck(QTreeWidgetItem* item, bool on) {
  const QVariant v = item->data(0, kFolderNodeRole);
  if (!v.isValid() || v.toULongLong() >= state_->folders.size()) return;
  for (uint32_t i : state_->folders.FilesBelow(uint32_t(v.toULongLong()))) state_->checked.SetChecked(i, on);
  RefreshChecks(true);
}

}  // namespace dunmere::gui
