// The main form over Qt widgets, laid out from its dialog template.
#include "sealer/ui/main_form.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QThread>
#include <QValidator>
#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "core/platform/user_interface.h"
#include "sealer/project/form_commands.h"
#include "sealer/project/form_messages.h"
#include "sealer/project/project_file.h"
#include "sealer/project/seal_engine.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/sealer_messages.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/source_scan.h"
#include "sealer/ui/sealer_dialogs.h"
#include "sealer/ui/status_texts.h"
#include "widgets/list_box_widget.h"
#include "widgets/qt_text.h"
#include "widgets/window_services.h"

namespace qx::ui {

namespace {

enum class Kind { kGroup, kFrame, kLabel, kEdit, kButton, kList, kHiddenList };

struct TemplateControl {
  int id;  // 0 for a control the code never addresses
  Kind kind;
  const char* text;
  int left, top, width, height;  // dialog units
  size_t limit;                  // bytes an edit accepts
  FormStretch stretch;           // how it follows a larger form
};

constexpr int kTemplateWidth = 312;
constexpr double kMostWidening = 1.6;
constexpr int kTemplateHeight = 250;

// How controls follow a larger form. The two columns of short fields share
// the new width half and half; the right column's labels move with their
// fields.
constexpr FormStretch kStays{0, 0, 0, 0};
constexpr FormStretch kWidens{0, 2, 0, 0};
constexpr FormStretch kMovesRight{2, 2, 0, 0};
constexpr FormStretch kLeftColumn{0, 1, 0, 0};
constexpr FormStretch kRightColumnLabel{1, 1, 0, 0};
constexpr FormStretch kRightColumn{1, 2, 0, 0};
constexpr FormStretch kGrows{0, 2, 0, 2};
constexpr FormStretch kStaysAtBottom{0, 0, 2, 2};
constexpr FormStretch kWidensAtBottom{0, 2, 2, 2};
constexpr FormStretch kCentredAtBottom{1, 1, 2, 2};
constexpr FormStretch kRightAtBottom{2, 2, 2, 2};

// The form's template, in its order (which is also the tab order).
constexpr TemplateControl kTemplate[] = {
    {2000, Kind::kGroup, "Header Information", 14, 2, 290, 93, 0, kWidens},
    {2001, Kind::kLabel, "Owner:", 23, 17, 27, 10, 0, kStays},
    {2051, Kind::kEdit, "", 59, 16, 87, 12, kOwnerFieldLimit, kLeftColumn},
    {2003, Kind::kLabel, "Name:", 155, 17, 21, 8, 0, kRightColumnLabel},
    {2053, Kind::kEdit, "", 207, 16, 87, 12, kNameFieldLimit, kRightColumn},
    {2005, Kind::kLabel, "Install To:", 23, 34, 31, 9, 0, kStays},
    {2055, Kind::kEdit, "", 59, 33, 87, 12, kPathFieldLimit, kLeftColumn},
    {2004, Kind::kLabel, "Command Line:", 155, 34, 54, 8, 0, kRightColumnLabel},
    {2054, Kind::kEdit, "", 207, 33, 87, 12, kCommandLineFieldLimit, kRightColumn},
    {2026, Kind::kLabel, "Seal From:", 23, 59, 34, 8, 0, kStays},
    {2064, Kind::kEdit, "", 59, 57, 217, 12, kPathFieldLimit, kWidens},
    {2066, Kind::kButton, "...", 283, 57, 12, 12, 0, kMovesRight},
    {2025, Kind::kLabel, "Put To:", 23, 77, 34, 8, 0, kStays},
    {2063, Kind::kEdit, "", 59, 75, 217, 12, kPathFieldLimit, kWidens},
    {7016, Kind::kGroup, "Package Information", 14, 100, 290, 110, 0, kGrows},
    {3004, Kind::kLabel, "Directory Count:", 31, 113, 54, 8, 0, kStays},
    {3054, Kind::kLabel, "", 86, 113, 19, 8, 0, kStays},
    {3005, Kind::kLabel, "File Count:", 220, 113, 37, 8, 0, kMovesRight},
    {3055, Kind::kLabel, "", 258, 113, 37, 8, 0, kMovesRight},
    {3100, Kind::kHiddenList, "", 22, 128, 272, 81, 0, kGrows},
    {3056, Kind::kList, "", 22, 128, 272, 81, 0, kGrows},
    {3066, Kind::kButton, "&Scan", 100, 216, 50, 14, 0, kCentredAtBottom},
    {3061, Kind::kButton, "S&eal", 162, 216, 50, 14, 0, kCentredAtBottom},
    {2028, Kind::kFrame, "", 0, 230, 311, 16, 0, kWidensAtBottom},
    {2027, Kind::kLabel, "Status:", 2, 235, 24, 9, 0, kStaysAtBottom},
    {2029, Kind::kFrame, "", 27, 230, 2, 16, 0, kStaysAtBottom},
    {2079, Kind::kLabel, "       ", 30, 235, 280, 9, 0, kWidensAtBottom},
};

// A field's limit counts the bytes of its text, as the record's widths do;
// only typing is limited, a text the program sets is taken whole.
class ByteLimit : public QValidator {
 public:
  ByteLimit(size_t limit, QObject* parent) : QValidator(parent), limit_(limit) {}
  State validate(QString& input, int& /*pos*/) const override {
    return static_cast<size_t>(input.toUtf8().size()) <= limit_ ? Acceptable : Invalid;
  }

 private:
  size_t limit_;
};

bool IsEdit(FormControl id) {
  switch (id) {
    case FormControl::kOwner:
    case FormControl::kName:
    case FormControl::kCommandLine:
    case FormControl::kInstallTo:
    case FormControl::kPutTo:
    case FormControl::kSealFrom:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string ProposedPutTo(std::string_view seal_from) {
  const size_t slash = seal_from.find_last_of("/\\");
  const size_t component = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = seal_from.rfind('.');
  std::string proposed(seal_from.substr(
      0, dot != std::string_view::npos && dot >= component ? dot : seal_from.size()));
  return proposed + ".qxd";
}

MainForm::MainForm(SealerState& state, int& help_context, QWidget* parent)
    : QWidget(parent), state_(state), help_context_(help_context) {
  setObjectName(QStringLiteral("mainForm"));
  Build();
  connect(this, &MainForm::runStep, this, &MainForm::ShowRunStep, Qt::QueuedConnection);
}

MainForm::~MainForm() {
  // A run still going stops at its next step; the form outlives it.
  if (worker_ != nullptr) {
    cancel_requested_ = true;
    worker_->wait();
    delete worker_;
  }
}

void MainForm::Build() {
  DialogUnits units(font());
  // Every label's text fits its rectangle: the layout widens as a whole
  // rather than cut a word.
  const QFontMetrics metrics(font());
  double widest = 1.0;
  for (const TemplateControl& c : kTemplate) {
    if (c.kind == Kind::kLabel && c.text[0] != '\0') {
      const int needed = metrics.horizontalAdvance(QString::fromLatin1(c.text)) + 2;
      widest = std::max(widest, static_cast<double>(needed) / units.X(c.width));
    }
  }
  units.Widen(std::min(widest, kMostWidening));
  // The template's size is the smallest the form takes; beyond it the
  // controls follow their stretch.
  setMinimumSize(units.X(kTemplateWidth), units.Y(kTemplateHeight));
  resize(minimumSize());
  for (const TemplateControl& c : kTemplate) {
    QWidget* widget = nullptr;
    const QString text = QString::fromLatin1(c.text);
    switch (c.kind) {
      case Kind::kGroup:
        widget = new QGroupBox(text, this);
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        break;
      case Kind::kFrame: {
        auto* frame = new QFrame(this);
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Sunken);
        widget = frame;
        break;
      }
      case Kind::kLabel:
        widget = new QLabel(text, this);
        break;
      case Kind::kEdit: {
        auto* edit = new QLineEdit(this);
        edit->setValidator(new ByteLimit(c.limit, edit));
        // What the limit refuses, typed or pasted, is not inserted: the beep says so.
        connect(edit, &QLineEdit::inputRejected, this,
                [] { CurrentUserInterface().Beep(BeepKind::kSimple); });
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] { state_.project_modified = true; });
        widget = edit;
        break;
      }
      case Kind::kButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        widget = button;
        break;
      }
      case Kind::kList:
      case Kind::kHiddenList: {
        auto* list = new ListBoxWidget(this);
        if (c.kind == Kind::kHiddenList) {
          list->hide();
          work_list_ = list;
        } else {
          file_list_ = list;
        }
        widget = list;
        break;
      }
    }
    Place(widget, units.Rect(c.left, c.top, c.width, c.height), c.stretch);
    widget->setProperty(kControlIdProperty, c.id);
    widget->setObjectName(QStringLiteral("control%1").arg(c.id));
    controls_[static_cast<FormControl>(c.id)] = widget;
  }
  status_ = static_cast<QLabel*>(controls_.at(FormControl::kStatus));

  connect(static_cast<QPushButton*>(Control(FormControl::kBrowse)), &QPushButton::clicked, this,
          &MainForm::Browse);
  connect(static_cast<QPushButton*>(Control(FormControl::kScan)), &QPushButton::clicked, this,
          &MainForm::Scan);
  connect(static_cast<QPushButton*>(Control(FormControl::kSeal)), &QPushButton::clicked, this,
          &MainForm::Seal);

  // During a seal the progress bar and Cancel take the place of Scan and Seal.
  progress_bar_ = new QProgressBar(this);
  progress_bar_->setObjectName(QStringLiteral("sealProgress"));
  // The progress row follows the bottom as Scan and Seal do, the bar
  // taking the width and Cancel staying at the right.
  Place(progress_bar_, units.Rect(22, 216, 210, 14), kWidensAtBottom);
  progress_bar_->setRange(0, 1000);
  progress_bar_->hide();
  cancel_button_ = new QPushButton(QStringLiteral("Cancel"), this);
  cancel_button_->setObjectName(QStringLiteral("cancelButton"));
  cancel_button_->setAutoDefault(false);
  Place(cancel_button_, units.Rect(244, 216, 50, 14), kRightAtBottom);
  cancel_button_->hide();
  connect(cancel_button_, &QPushButton::clicked, this, &MainForm::RequestCancel);
}

void MainForm::Place(QWidget* widget, const QRect& rect, FormStretch stretch) {
  placed_.push_back({widget, rect, stretch});
  widget->setGeometry(rect);
}

void MainForm::Arrange() {
  // Growth only: the minimum size keeps the form from shrinking below the
  // template.
  const int dx = std::max(0, width() - minimumWidth());
  const int dy = std::max(0, height() - minimumHeight());
  for (const Placed& p : placed_) {
    const int left = p.rect.left() + dx * p.stretch.left / 2;
    const int right = p.rect.left() + p.rect.width() + dx * p.stretch.right / 2;
    const int top = p.rect.top() + dy * p.stretch.top / 2;
    const int bottom = p.rect.top() + p.rect.height() + dy * p.stretch.bottom / 2;
    p.widget->setGeometry(left, top, right - left, bottom - top);
  }
}

void MainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Arrange();
}

QWidget* MainForm::Control(FormControl id) const {
  const auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QLineEdit* MainForm::Edit(FormControl id) const {
  return IsEdit(id) ? static_cast<QLineEdit*>(Control(id)) : nullptr;
}

std::string MainForm::FieldText(FormControl id) const {
  QString shown;
  if (QLineEdit* edit = Edit(id)) {
    shown = edit->text();
  } else if (auto* label = qobject_cast<QLabel*>(Control(id))) {
    shown = label->text();
  } else {
    return {};
  }
  const auto given = given_.find(id);
  if (given != given_.end() && given->second.first == shown) {
    return given->second.second;
  }
  return ToStdString(shown);
}

void MainForm::SetFieldText(FormControl id, std::string_view text) {
  const QString shown = ToQString(text);
  given_[id] = {shown, std::string(text)};
  if (QLineEdit* edit = Edit(id)) {
    edit->setText(shown);
    // A text the program sets still counts as a change of the form.
    state_.project_modified = true;
  } else if (auto* label = qobject_cast<QLabel*>(Control(id))) {
    label->setText(shown);
  }
}

void MainForm::EnableControl(FormControl id, bool enabled) {
  if (QWidget* control = Control(id)) {
    control->setEnabled(enabled);
  }
}

void MainForm::FocusControl(FormControl id, bool select_all) {
  QWidget* control = Control(id);
  if (control == nullptr) {
    return;
  }
  control->setFocus(Qt::OtherFocusReason);
  if (QLineEdit* edit = Edit(id); edit != nullptr && select_all) {
    edit->selectAll();
  }
}

ListBox& MainForm::FileList() {
  return *file_list_;
}

ListBox& MainForm::WorkList() {
  return *work_list_;
}

void MainForm::SetWindowTitle(std::string_view title) {
  window()->setWindowTitle(ToQString(title));
}

void MainForm::ShowStatusText(int id) {
  if (!status_texts_enabled_ || id == kNoStatusText) {
    return;
  }
  status_->setText(ToQString(StatusText(id)));
}

void MainForm::ShowStatusMessage(std::string_view text) {
  if (status_texts_enabled_) {
    status_->setText(ToQString(text));
  }
}

QString MainForm::StatusLine() const {
  return status_->text();
}

bool MainForm::ProgressStep(std::string_view text, const SealProgress* progress) {
  if (!sealing_shown_) {
    ShowSealing(true);
  }
  // "Cancelling" stays until the run ends.
  if (!cancel_requested_) {
    status_->setText(ToQString(text));
  }
  if (progress != nullptr) {
    const int value =
        progress->total_bytes > 0
            ? static_cast<int>(progress->done_bytes * 1000 / progress->total_bytes)
            : static_cast<int>(progress->count > 0 ? progress->index * 1000 / progress->count : 0);
    progress_bar_->setValue(value);
    progress_bar_->setFormat(
        QStringLiteral("File %1 of %2").arg(progress->index + 1).arg(progress->count));
    emit sealProgress(static_cast<int>(progress->index), static_cast<int>(progress->count));
  }
  return cancel_requested_;
}

void MainForm::ShowRunStep(const QString& text, qint64 index, qint64 count, qint64 done_bytes,
                           qint64 total_bytes) {
  if (index < 0) {
    ProgressStep(ToStdString(text), nullptr);
    return;
  }
  SealProgress step;
  step.index = static_cast<size_t>(index);
  step.count = static_cast<size_t>(count);
  step.done_bytes = done_bytes;
  step.total_bytes = total_bytes;
  ProgressStep(ToStdString(text), &step);
}

void MainForm::SealFinished() {
  if (!sealing_shown_) {
    return;
  }
  progress_bar_->setValue(progress_bar_->maximum());
  progress_bar_->repaint();  // the full bar shows under the completion box
  ShowSealing(false);
}

bool MainForm::ChooseProjectFile(std::string& path) {
  return qx::ui::ChooseProjectFile(window(), true, path, state_.project.appl_name,
                                   state_.settings.project_directory, help_context_);
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut) {
    return QWidget::eventFilter(watched, event);
  }
  const auto id = static_cast<FormControl>(watched->property(kControlIdProperty).toInt());
  // Focus that comes back from another window or a menu, or goes there,
  // neither enters nor leaves the field.
  const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
    return false;
  }
  if (event->type() == QEvent::FocusIn) {
    ShowStatusText(static_cast<int>(id));
  } else {
    FieldLeft(id);
  }
  return false;
}

void MainForm::FieldLeft(FormControl id) {
  // A refused field shows a box and takes the focus back; the focus that
  // moves meanwhile is not another leave.
  if (checking_field_ || state_.seal_running) {
    return;
  }
  checking_field_ = true;
  switch (id) {
    case FormControl::kName:
      Shown(*this, CheckNameValue(FieldText(FormControl::kName)));
      break;
    case FormControl::kInstallTo:
      Shown(*this, CheckInstallToValue(FieldText(FormControl::kInstallTo)));
      break;
    case FormControl::kPutTo:
      EnableControl(FormControl::kScan, true);
      break;
    default:
      break;
  }
  checking_field_ = false;
}

void MainForm::Browse() {
  if (state_.seal_running) {
    return;
  }
  state_.project.seal_from = FieldText(FormControl::kSealFrom);
  const std::optional<std::string> chosen =
      LocateDirectory(this, state_.project.seal_from, help_context_);
  if (!chosen) {
    FocusControl(FormControl::kBrowse, false);
    CommandDone();
    return;
  }
  state_.project.seal_from = *chosen;
  SetFieldText(FormControl::kSealFrom, *chosen);
  SetFieldText(FormControl::kPutTo, ProposedPutTo(*chosen));
  checking_field_ = true;  // moving to Put To leaves no field to check
  FocusControl(FormControl::kPutTo, true);
  checking_field_ = false;
  ShowStatusText(static_cast<int>(FormControl::kBrowse));
  EnableControl(FormControl::kScan, true);
  CommandDone();
}

void MainForm::Scan() {
  if (state_.seal_running) {
    return;
  }
  BeginRun();
  std::optional<FormRequest> request = BeginScan(state_, *this);
  if (!request) {
    EndRun();
    return;
  }
  EnableControl(FormControl::kScan, false);
  EnableControl(FormControl::kSeal, false);
  ShowStatusMessage("Scanning " + request->project.record.seal_from + " ...");
  StartRun<ScanOutcome>(std::move(*request), RunScan, [this](FormOutcome<ScanOutcome> outcome) {
    const bool scanned = EndScan(state_, *this, std::move(outcome));
    EnableControl(FormControl::kScan, true);
    // Seal is offered whatever the scan reported.
    EnableControl(FormControl::kSeal, true);
    if (scanned) {
      ShowStatusMessage("Scanned: " + std::to_string(state_.project.file_count) + " files in " +
                        std::to_string(state_.project.directory_count) + " directories.");
    } else {
      ShowStatusMessage("");
    }
    FocusControl(FormControl::kSeal, false);
    EndRun();
  });
}

void MainForm::Seal() {
  if (state_.seal_running) {
    return;
  }
  // The key is loaded, and its passphrase asked, before anything is written.
  if (!PrepareSigningKey()) {
    CommandDone();
    return;
  }
  BeginRun();
  std::optional<FormRequest> request = BeginSeal(state_, *this);
  if (!request) {
    EndRun();
    return;
  }
  ShowSealing(true);
  StartRun<SealedPackage>(std::move(*request), RunSeal, [this](FormOutcome<SealedPackage> outcome) {
    const bool sealed = EndSeal(state_, *this, std::move(outcome));
    ShowSealing(false);  // the focus leaves Cancel, and its field shows its text
    // The progress gives way to the run's result; the staging keeps the
    // earlier package whole unless the run succeeded.
    if (sealed) {
      status_->setText(QStringLiteral("The %1 package seal is complete.")
                           .arg(ToQString(state_.project.appl_name)));
    } else if (cancel_requested_) {
      status_->setText(QStringLiteral("Seal cancelled: the earlier package is left as it was."));
    } else {
      status_->setText(QStringLiteral("Seal stopped: the earlier package is left as it was."));
    }
    EndRun();
  });
}

void MainForm::BeginRun() {
  cancel_requested_ = false;
  state_.seal_running = true;
  emit sealRunningChanged(true);
}

void MainForm::EndRun() {
  state_.seal_running = false;
  emit sealRunningChanged(false);
  CommandDone();
}

template <typename T>
void MainForm::StartRun(FormRequest request,
                        FormOutcome<T> (*run)(const FormRequest&, const RunProgress&),
                        std::function<void(FormOutcome<T>)> done) {
  // Each step reaches the form as a queued signal; Cancel is read back.
  RunProgress progress = [this](std::string_view text, const SealProgress* step) {
    if (step == nullptr) {
      emit runStep(ToQString(text), -1, 0, 0, 0);
      return cancel_requested_.load();
    }
    emit runStep(ToQString(text), static_cast<qint64>(step->index),
                 static_cast<qint64>(step->count), step->done_bytes, step->total_bytes);
    if (worker_step_hook_) {
      worker_step_hook_(step->index);
    }
    return cancel_requested_.load();
  };
  auto outcome = std::make_shared<std::optional<FormOutcome<T>>>();
  BusyCursor(true, true);
  worker_ = QThread::create([outcome, request = std::move(request), run, progress] {
    outcome->emplace(run(request, progress));
  });
  connect(worker_, &QThread::finished, this, [this, outcome, done = std::move(done)] {
    worker_->wait();  // finished comes just before the thread ends
    delete worker_;
    worker_ = nullptr;
    BusyCursor(false);
    done(std::move(**outcome));
  });
  worker_->start();
}

bool MainForm::PrepareSigningKey() {
  state_.seal_options.signing_key = {};
  const std::string& path = state_.settings.signing_key;
  if (path.empty()) {
    return true;
  }
  const SessionKeys::Result loaded = signing_keys_.Load(window(), path);
  switch (loaded.outcome) {
    case SessionKeys::Outcome::kLoaded:
      state_.seal_options.signing_key = loaded.key;
      return true;
    case SessionKeys::Outcome::kCancelled:
      return false;
    case SessionKeys::Outcome::kFailed:
      break;
  }
  ErrorBox("Unable to load the signing key " + path + ": " + loaded.error +
           ". Nothing was sealed.");
  return false;
}

void MainForm::RequestCancel() {
  if (sealing_shown_) {
    cancel_requested_ = true;
    status_->setText(
        QStringLiteral("Cancelling: the file under way finishes, then the seal stops ..."));
  }
}

void MainForm::ShowSealing(bool sealing) {
  sealing_shown_ = sealing;
  Control(FormControl::kScan)->setVisible(!sealing);
  Control(FormControl::kSeal)->setVisible(!sealing);
  Control(FormControl::kBrowse)->setEnabled(!sealing);
  progress_bar_->setValue(0);
  progress_bar_->setFormat(QString());
  progress_bar_->setVisible(sealing);
  cancel_button_->setVisible(sealing);
  for (const auto& [id, control] : controls_) {
    if (QLineEdit* edit = Edit(id)) {
      edit->setReadOnly(sealing);
      // A read-only field takes the window's colour, so that it does not
      // look as if it could be typed in.
      QPalette palette = QApplication::palette(edit);
      if (sealing) {
        palette.setColor(QPalette::Base, palette.color(QPalette::Window));
      }
      edit->setPalette(palette);
    }
  }
  if (sealing) {
    cancel_button_->setFocus(Qt::OtherFocusReason);
  }
}

}  // namespace qx::ui
