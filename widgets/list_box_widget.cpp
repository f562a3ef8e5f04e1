// The form's list boxes over QListWidget.
#include "widgets/list_box_widget.h"

#include <QFontMetrics>
#include <QScrollBar>
#include <algorithm>

#include "widgets/qt_text.h"

namespace qx::ui {

namespace {

constexpr int kBytesRole = Qt::UserRole;

}  // namespace

ListBoxWidget::ListBoxWidget(QWidget* parent) : QListWidget(parent) {
  setUniformItemSizes(true);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

QListWidgetItem* ListBoxWidget::MakeItem(std::string_view text) const {
  auto* item = new QListWidgetItem(ToQString(text));
  item->setData(kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  return item;
}

std::string ListBoxWidget::Text(int index) const {
  const QListWidgetItem* line = item(index);
  if (line == nullptr) {
    return {};
  }
  const QByteArray bytes = line->data(kBytesRole).toByteArray();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int ListBoxWidget::Add(std::string_view text) {
  addItem(MakeItem(text));
  return count() - 1;
}

int ListBoxWidget::Insert(int index, std::string_view text) {
  if (index < 0 || index > count()) {
    index = count();
  }
  insertItem(index, MakeItem(text));
  return index;
}

bool ListBoxWidget::Delete(int index) {
  if (index < 0 || index >= count()) {
    return false;
  }
  delete takeItem(index);
  return true;
}

void ListBoxWidget::Select(int index) {
  if (index < 0 || index >= count()) {
    setCurrentRow(-1);
    clearSelection();
    return;
  }
  setCurrentRow(index);
}

int ListBoxWidget::MeasureLine(std::string_view text) const {
  const QFontMetrics metrics(font());
  return metrics.horizontalAdvance(ToQString(text)) + metrics.averageCharWidth();
}

void ListBoxWidget::SetHorizontalExtent(int extent) {
  extent_ = std::max(extent, 0);
  updateGeometries();
}

void ListBoxWidget::ScrollToLeft() {
  horizontalScrollBar()->setValue(0);
}

void ListBoxWidget::updateGeometries() {
  QListWidget::updateGeometries();
  const int width = viewport()->width();
  horizontalScrollBar()->setPageStep(width);
  horizontalScrollBar()->setRange(0, std::max(0, extent_ - width));
}

}  // namespace qx::ui
