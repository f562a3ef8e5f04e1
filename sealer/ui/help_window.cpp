// The help window over the compiled-in topics.
#include "sealer/ui/help_window.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

namespace qx::ui {

namespace {

constexpr char kWindowTitle[] = "Tarnwick Web Lite Sealer Help";
constexpr char kContentsPage[] = "qrc:/help/contents.html";
constexpr char kHelpOnHelpPage[] = "qrc:/help/help_on_help.html";

struct TopicAlias {
  int context;
  int page;
};

// Contexts that share a page: the recent projects, and the form's labels and
// frames, which never hold the focus, with the field they name.
constexpr TopicAlias kAliases[] = {
    {152, 151},   {153, 151},   {154, 151},   {2001, 2051}, {2003, 2053}, {2004, 2054},
    {2005, 2055}, {2025, 2063}, {2026, 2064}, {2027, 2000}, {2028, 2000}, {2029, 2000},
    {2079, 2000}, {3004, 3054}, {3005, 3054}, {3055, 3054}, {3100, 3056},
};

int PageNumber(int context) {
  const auto* alias = std::find_if(std::begin(kAliases), std::end(kAliases),
                                   [context](const TopicAlias& a) { return a.context == context; });
  return alias != std::end(kAliases) ? alias->page : context;
}

QString NumberedPage(int context) {
  return QStringLiteral(":/help/%1.html").arg(PageNumber(context));
}

}  // namespace

bool HasHelpTopic(int context) {
  return QFile::exists(NumberedPage(context));
}

QString HelpTopicPage(int context) {
  return HasHelpTopic(context) ? QStringLiteral("qrc") + NumberedPage(context)
                               : QString::fromLatin1(kContentsPage);
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QString::fromLatin1(kWindowTitle));
  setObjectName(QStringLiteral("helpWindow"));
  browser_ = new QTextBrowser(this);
  // One style sheet for all topics; a page keeps it when the browser moves on.
  QFile style(QStringLiteral(":/help/help.css"));
  if (style.open(QIODevice::ReadOnly)) {
    browser_->document()->setDefaultStyleSheet(QString::fromUtf8(style.readAll()));
  }
  browser_->setOpenExternalLinks(false);
  browser_->setOpenLinks(true);

  auto* contents = new QPushButton(tr("&Contents"), this);
  auto* back = new QPushButton(tr("&Back"), this);
  auto* forward = new QPushButton(tr("&Forward"), this);
  auto* close_button = new QPushButton(tr("C&lose"), this);
  contents->setObjectName(QStringLiteral("contentsButton"));
  back->setObjectName(QStringLiteral("backButton"));
  forward->setObjectName(QStringLiteral("forwardButton"));
  close_button->setObjectName(QStringLiteral("closeButton"));
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(contents, &QPushButton::clicked, this, &HelpWindow::ShowContents);
  connect(close_button, &QPushButton::clicked, this, &HelpWindow::Quit);
  // Escape closes the window wherever the focus is in it.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &HelpWindow::Quit);
  // The title names the topic shown, however it was reached: a request, a
  // link, Back or Forward.
  connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::UpdateTitle);
  connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(contents);
  buttons->addWidget(back);
  buttons->addWidget(forward);
  buttons->addStretch();
  buttons->addWidget(close_button);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(browser_);
  resize(560, 480);
}

void HelpWindow::ShowPage(const QString& page) {
  browser_->setSource(QUrl(page));
  show();
  raise();
  activateWindow();
}

void HelpWindow::ShowTopic(int context) {
  ShowPage(HelpTopicPage(context));
}

void HelpWindow::ShowContents() {
  ShowPage(QString::fromLatin1(kContentsPage));
}

void HelpWindow::ShowHelpOnHelp() {
  ShowPage(QString::fromLatin1(kHelpOnHelpPage));
}

void HelpWindow::Quit() {
  close();
}

void HelpWindow::UpdateTitle() {
  const QString plain = QString::fromLatin1(kWindowTitle);
  const QString topic = browser_->documentTitle().simplified();
  // The contents page bears the window's own title; it is not said twice.
  setWindowTitle(topic.isEmpty() || topic == plain ? plain : plain + QStringLiteral(" - ") + topic);
}

QString HelpWindow::CurrentPage() const {
  return browser_->source().toString();
}

}  // namespace qx::ui
