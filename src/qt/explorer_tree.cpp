#include "qt/explorer_tree.h"

#include <QPainter>

namespace qb::qt {

namespace {
constexpr int kGlyphSize = 16;
constexpr int kStateGap = 2;
constexpr int kNoteMarkImage = 9;
}  // namespace

QString TGlyphImages::ImagePath(int n) {
  return QStringLiteral(":/images/%1.png").arg(n, 2, 10, QLatin1Char('0'));
}

QPixmap TGlyphImages::Glyph(int index) const {
  return index >= 0 && index < Count() ? glyphs_[static_cast<size_t>(index)] : QPixmap();
}

QPixmap TGlyphImages::Image(int index) const {
  return index >= 0 && index < static_cast<int>(images_.size()) ? images_[static_cast<size_t>(index)]
                                                                : QPixmap();
}

void TGlyphImages::SetUserGlyphs(std::vector<QImage> user) {
  const TGlyphImageList list(std::move(user));
  const QSize size(TGlyphImageList::kGlyphSize, TGlyphImageList::kGlyphSize);
  glyphs_.clear();
  for (int i = 0; i < list.Count(); ++i) glyphs_.push_back(list.Icon(i).pixmap(size, 2.0));
  if (images_.empty())
    for (int i = 0; i < kImageCount; ++i) images_.emplace_back(ImagePath(i));
}

TExplorerModel::TExplorerModel(TTreeView& tree, const TGlyphImages& images, QObject* parent)
    : QAbstractItemModel(parent), tree_(tree), images_(images) {
  tree_.SetObserver(this);
}

TExplorerModel::~TExplorerModel() {
  tree_.SetObserver(nullptr);
}

TTreeNode* TExplorerModel::NodeOf(const QModelIndex& index) {
  return index.isValid() ? static_cast<TTreeNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TExplorerModel::IndexOf(const TTreeNode* node) const {
  if (!node) return QModelIndex();
  if (filter_) {
    const int* row = shown_row_.Find(node);
    return row ? createIndex(*row, 0, const_cast<TTreeNode*>(node)) : QModelIndex();
  }
  return createIndex(node->Index(), 0, const_cast<TTreeNode*>(node));
}

void TExplorerModel::SetFilter(const TNodeSet* visible) {
  beginResetModel();
  filter_ = visible;
  BuildFilteredRows();
  endResetModel();
  if (OnReset) OnReset();
}

void TExplorerModel::BuildFilteredRows() {
  shown_children_.clear();
  shown_row_.Clear();
  if (!filter_) return;
  shown_row_.Reserve(filter_->size());
  std::vector<TTreeNode*> stack;
  auto take = [&](const TTreeNode* parent, TTreeNode* child) {
    if (!filter_->count(child)) return;
    std::vector<TTreeNode*>& rows = shown_children_[parent];
    *shown_row_.Insert(child).first = static_cast<int>(rows.size());
    rows.push_back(child);
    if (child->HasChildren()) stack.push_back(child);
  };
  for (int i = 0; i < tree_.TopCount(); ++i) take(nullptr, tree_.TopItem(i));
  while (!stack.empty()) {
    TTreeNode* node = stack.back();
    stack.pop_back();
    for (int i = 0; i < node->Count(); ++i) take(node, node->Item(i));
  }
}

std::vector<const TTreeNode*> TExplorerModel::ShownDrawers() const {
  std::vector<const TTreeNode*> drawers;
  drawers.reserve(shown_children_.size());
  for (const auto& [parent, rows] : shown_children_)
    if (parent) drawers.push_back(parent);
  return drawers;
}

const std::vector<TTreeNode*>* TExplorerModel::ShownChildren(const TTreeNode* parent) const {
  auto it = shown_children_.find(parent);
  return it == shown_children_.end() ? nullptr : &it->second;
}

QModelIndex TExplorerModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0 || resetting_) return QModelIndex();
  TTreeNode* p = NodeOf(parent);
  if (filter_) {
    const std::vector<TTreeNode*>* rows = ShownChildren(p);
    return rows && row < static_cast<int>(rows->size())
               ? createIndex(row, 0, (*rows)[static_cast<size_t>(row)])
               : QModelIndex();
  }
  if (p) return row < p->Count() ? createIndex(row, 0, p->Item(row)) : QModelIndex();
  return row < tree_.TopCount() ? createIndex(row, 0, tree_.TopItem(row)) : QModelIndex();
}

QModelIndex TExplorerModel::parent(const QModelIndex& child) const {
  TTreeNode* node = NodeOf(child);
  return node ? IndexOf(node->Parent()) : QModelIndex();
}

int TExplorerModel::rowCount(const QModelIndex& parent) const {
  if (resetting_ || parent.column() > 0) return 0;
  TTreeNode* p = NodeOf(parent);
  if (filter_) {
    const std::vector<TTreeNode*>* rows = ShownChildren(p);
    return rows ? static_cast<int>(rows->size()) : 0;
  }
  return p ? p->Count() : tree_.TopCount();
}

int TExplorerModel::columnCount(const QModelIndex&) const {
  return 1;
}

QPixmap TExplorerModel::Decoration(const TTreeNode* node) const {
  // The state image's place is kept on every row, so the glyphs line up.
  const qreal ratio = 2.0;
  QPixmap pixmap(QSize(kGlyphSize * 2 + kStateGap, kGlyphSize) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (node->StateIndex() >= 0) {
    QPixmap mark = images_.Image(node->StateIndex() == kNoteMarkImage ? kNoteMarkImage : node->StateIndex());
    painter.drawPixmap(QRect(0, 0, kGlyphSize, kGlyphSize), mark);
  }
  QPixmap glyph = images_.Glyph(node->ImageIndex());
  if (!glyph.isNull()) painter.drawPixmap(QRect(kGlyphSize + kStateGap, 0, kGlyphSize, kGlyphSize), glyph);
  return pixmap;
}

QVariant TExplorerModel::data(const QModelIndex& index, int role) const {
  TTreeNode* node = NodeOf(index);
  if (!node) return QVariant();
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(node->Caption());
    case Qt::ToolTipRole:
      return ToolTip ? ToolTip(node) : QString::fromStdString(node->Caption());
    case Qt::DecorationRole:
      return Decoration(node);
    default:
      return QVariant();
  }
}

Qt::ItemFlags TExplorerModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

void TExplorerModel::NodeInserting(TTreeNode* parent, int row) {
  if (resetting_) return;
  if (filter_) {
    beginResetModel();
    filter_resetting_ = true;
    return;
  }
  beginInsertRows(IndexOf(parent), row, row);
}

void TExplorerModel::NodeInserted(TTreeNode*) {
  if (resetting_) return;
  if (filter_resetting_) {
    EndFilteredChange();
    return;
  }
  endInsertRows();
}

void TExplorerModel::NodeRemoving(TTreeNode* node) {
  if (resetting_) return;
  if (filter_) {
    beginResetModel();
    filter_resetting_ = true;
    return;
  }
  beginRemoveRows(IndexOf(node->Parent()), node->Index(), node->Index());
}

void TExplorerModel::NodeRemoved(TTreeNode*, int) {
  if (resetting_) return;
  if (filter_resetting_) {
    EndFilteredChange();
    return;
  }
  endRemoveRows();
}

void TExplorerModel::NodeChanged(TTreeNode* node) {
  if (resetting_) return;
  QModelIndex i = IndexOf(node);
  if (filter_) {
    // The filtered view shows its drawers open whatever their own flags say.
    if (i.isValid()) emit dataChanged(i, i);
    return;
  }
  emit dataChanged(i, i);
  if (OnExpandedChanged) OnExpandedChanged(node, node->Expanded());
}

void TExplorerModel::SelectionChanged(TTreeNode* selected) {
  if (OnSelectionChanged) OnSelectionChanged(selected);
}

void TExplorerModel::EndFilteredChange() {
  filter_resetting_ = false;
  BuildFilteredRows();
  endResetModel();
  if (OnReset) OnReset();
}

void TExplorerModel::Cleared() {
  if (resetting_) return;
  beginResetModel();
  // The nodes the filter named are gone.
  filter_ = nullptr;
  BuildFilteredRows();
  endResetModel();
  if (OnReset) OnReset();
}

void TExplorerModel::UpdateBegun() {
  beginResetModel();
  filter_ = nullptr;  // a rebuilt tree has new nodes: whoever filtered sets the filter again
  BuildFilteredRows();
  resetting_ = true;
}

void TExplorerModel::UpdateEnded() {
  resetting_ = false;
  endResetModel();
  if (OnReset) OnReset();
}

}  // namespace qb::qt
