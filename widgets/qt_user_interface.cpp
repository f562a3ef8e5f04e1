// QMessageBox and QApplication::beep behind the engine's boxes and beeps.
#include "widgets/qt_user_interface.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "widgets/qt_text.h"

namespace qx::ui {

namespace {

constexpr qint64 kDeliveryIntervalMs = 30;

QMessageBox::Icon ToIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kInformation:
      return QMessageBox::Information;
    case BoxIcon::kQuestion:
      return QMessageBox::Question;
    case BoxIcon::kStop:
      return QMessageBox::Critical;
    case BoxIcon::kWarning:
      return QMessageBox::Warning;
    case BoxIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtUserInterface::RegisterOwner(WindowHandle handle, QWidget* widget) {
  owners_[handle] = widget;
}

QWidget* QtUserInterface::OwnerWidget(WindowHandle handle) const {
  if (handle == nullptr) {
    return nullptr;
  }
  const auto found = owners_.find(handle);
  if (found != owners_.end() && !found->second.isNull()) {
    return found->second.data();
  }
  return QApplication::activeWindow();
}

void QtUserInterface::Beep(BeepKind /*kind*/) {
  QApplication::beep();
}

BoxAnswer QtUserInterface::ShowMessageBox(const MessageBoxRequest& request) {
  QMessageBox box(ToIcon(request.icon), ToQString(request.caption), ToQString(request.text),
                  QMessageBox::NoButton, OwnerWidget(request.owner));
  // The first button is the default one, and Escape means Cancel where the
  // box has one.
  QPushButton* first = nullptr;
  switch (request.buttons) {
    case BoxButtons::kOk:
      first = box.addButton(QMessageBox::Ok);
      box.setEscapeButton(first);
      break;
    case BoxButtons::kOkCancel:
      first = box.addButton(QMessageBox::Ok);
      box.setEscapeButton(box.addButton(QMessageBox::Cancel));
      break;
    case BoxButtons::kYesNo:
      first = box.addButton(QMessageBox::Yes);
      box.addButton(QMessageBox::No);
      break;
    case BoxButtons::kYesNoCancel:
      first = box.addButton(QMessageBox::Yes);
      box.addButton(QMessageBox::No);
      box.setEscapeButton(box.addButton(QMessageBox::Cancel));
      break;
  }
  box.setDefaultButton(first);
  // A box over a window blocks that window alone, so the help stays usable.
  box.setWindowModality(box.parentWidget() != nullptr ? Qt::WindowModal : Qt::ApplicationModal);
  box.exec();
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok:
      return BoxAnswer::kOk;
    case QMessageBox::Yes:
      return BoxAnswer::kYes;
    case QMessageBox::No:
      return BoxAnswer::kNo;
    default:
      break;
  }
  // Closed without a button: Cancel where there is one, else the only answer.
  switch (request.buttons) {
    case BoxButtons::kOk:
      return BoxAnswer::kOk;
    case BoxButtons::kYesNo:
      return BoxAnswer::kNo;
    default:
      return BoxAnswer::kCancel;
  }
}

void QtUserInterface::DeliverPendingEvents() {
  if (QThread::currentThread() != QApplication::instance()->thread()) {
    return;
  }
  if (since_delivery_.isValid() && since_delivery_.elapsed() < kDeliveryIntervalMs) {
    return;
  }
  since_delivery_.start();
  QApplication::processEvents();
}

}  // namespace qx::ui
