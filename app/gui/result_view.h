#pragma once
// The results page of the main window: the type tree ("TypeTree") grouped by
// category and extension or, switched by "BtnTypeView" / "BtnFolderView",
// the folder tree ("FolderTree") of the sources' original folders; the file list ("FileList") of the selected type
// node with sorting and check boxes, the selection summary
// ("SelectedFileInfo") and the checked set copy-out works from. Lives on the
// UI thread inside the main window, which forwards its notifications.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/results/folder_tree.h"
#include "engine/found_item.h"
#include "ui/window_base.h"

class QTreeWidgetItem;
namespace dunmere::ui {
class FileTree;
class ListBox;
}  // namespace dunmere::ui

namespace dunmere::gui {

class ResultViewState;  // the model behind the views, without widgets

class ResultView {
 public:
  // Key of the checked set: (record index, source tag << 16 | low 16 bits of source kind).
  using CheckedKey = std::pair<uint32_t, uint32_t>;
  using CheckedSet = std::map<CheckedKey, FoundItemRecord>;

  explicit ResultView(ui::WindowImplBase& mainWindow);
  ~ResultView();

  // Shows the type search's results. selected: extension -> user data of the
  // file-type option that chose it (the tree's child nodes keep it).
  void ShowResults(std::vector<FoundItemRecord> results, const std::map<std::string, std::string>& selected);
  void Clear();
  // Notifications of "TypeTree", "FileList" and its header; true when handled.
  bool HandleNotify(const ui::Notification& n);

  const CheckedSet& Checked() const;
  // The checked records in the order of Checked(), where they are in Results().
  std::vector<const FoundItemRecord*> CheckedRecords() const;
  const std::vector<FoundItemRecord>& Results() const;
  // Called with the record of a row that was selected (the preview hand-off).
  void SetPreviewHandler(std::function<void(const FoundItemRecord&)> handler);
  // Where the Path column learns a record's folder (its engine's folder path).
  void SetFolderSource(std::function<bool(const FoundItemRecord&, std::string&)> folderOf);
  // The caption of a source's top node in the folder view.
  void SetSourceNames(std::function<QString(uint16_t sourceTag)> nameOf);

  // The folder view instead of the type view; its tree is made the first
  // time it is shown after a search. Copy-out from the folder view keeps the
  // folders.
  void ShowFolderView(bool on);
  bool FolderViewShown() const { return folderView_; }
  // The folder view's tree item of a node (null until its parent was opened).
  QTreeWidgetItem* FolderItem(uint32_t node) const;
  const FolderTree& Folders() const;

  // The rows of the file list as shown (the preview's picture navigation);
  // null outside 0..ListedRowCount()-1.
  int ListedRowCount() const;
  const FoundItemRecord* ListedRecord(int row) const;
  // Captions and the summary again, after the language changed.
  void ApplyLanguage();

 private:
  void Bind();
  // Size, dates and type take their longest text's width; then the widths
  // the person set (kept per user) replace them.
  void FitColumnsToTheirTexts();
  bool PersonSizes(int column) const;  // a column whose divider the person drags
  void SaveColumnWidths();
  void ApplyStoredWidths();
  // The Path column takes the longest folder of the listed rows, up to a
  // third of the list, unless the person set its width.
  void FitPathColumn();
  // Applies that width again as the list's width changes.
  void ApplyPathWidth();
  // The type tree's layout of the results in the current language.
  void LayOut();
  void BuildTree(const std::map<std::string, std::string>& selected);
  void SetCategoryCaptions();
  void ListNode(QTreeWidgetItem* node);
  void ListGroup(int group);
  void OnRowCheck(int row, bool on);
  void OnNodeCheck(QTreeWidgetItem* node, bool on);
  void SetListedState(bool on);
  void Sort(const QString& headerItem);
  void OnRowSelected(int row);
  // Shows the checked set everywhere: rows, node boxes, "ChkSelAll", summary.
  void RefreshChecks(bool rows);
  void RefreshSummary();
  QTreeWidgetItem* CategoryNode(int category) const;
  void BuildFolderTree();
  // Makes the tree items of a folder node's children (once, when opened).
  void MakeFolderChildren(QTreeWidgetItem* item);
  QTreeWidgetItem* MakeFolderItem(QTreeWidgetItem* parent, uint32_t node);
  QString FolderCaption(uint32_t node) const;
  void SetFolderCaptions();
  void ListFolder(QTreeWidgetItem* item);
  void OnFolderCheck(QTreeWidgetItem* item, bool on);
  void SelectFirstOfShownTree();

  ui::WindowImplBase& wnd_;
  std::unique_ptr<ResultViewState> state_;
  std::function<void(const FoundItemRecord&)> preview_;
  ui::FileTree* tree_ = nullptr;
  ui::ListBox* list_ = nullptr;
  std::vector<QTreeWidgetItem*> groupNodes_;  // per extension group, null when not shown
  std::map<std::string, std::string> selected_;  // what the shown search looked for
  ui::FileTree* folderTree_ = nullptr;
  std::vector<QTreeWidgetItem*> folderItems_;  // per folder node, null until made
  std::function<QString(uint16_t)> sourceName_;
  bool folderView_ = false;
  QMetaObject::Connection resized_;  // the header's sectionResized
  QObject* mouseWatch_ = nullptr;    // the header's mouse, watched
  bool dragging_ = false;            // a mouse button is down on the list's header
  bool fitting_ = false;             // widths set by the program, not by the person
  bool widthsChanged_ = false;       // the person changed a width since they were kept
  bool pathSized_ = false;           // the Path column has the person's width
  int pathLongest_ = 0;              // widest folder text of the listed rows; 0: none measured
};

}  // namespace dunmere::gui
