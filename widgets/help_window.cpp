// The help window over the compiled-in topics.
#include "widgets/help_window.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <utility>

namespace qx::ui {

namespace {

int PageNumber(const HelpBook& book, int context) {
  const auto alias =
      std::find_if(book.aliases.begin(), book.aliases.end(),
                   [context](const HelpTopicAlias& a) { return a.context == context; });
  return alias != book.aliases.end() ? alias->page : context;
}

QString NumberedPage(const HelpBook& book, int context) {
  return QStringLiteral("%1/%2.html").arg(book.folder).arg(PageNumber(book, context));
}

QString PageUrl(const HelpBook& book, const char* name) {
  return QStringLiteral("qrc") + book.folder + QLatin1Char('/') + QLatin1String(name);
}

}  // namespace

bool HasHelpTopic(const HelpBook& book, int context) {
  return QFile::exists(NumberedPage(book, context));
}

QString HelpTopicPage(const HelpBook& book, int context) {
  return HasHelpTopic(book, context) ? QStringLiteral("qrc") + NumberedPage(book, context)
                                     : PageUrl(book, "contents.html");
}

HelpWindow::HelpWindow(HelpBook book, QWidget* parent)
    : QWidget(parent, Qt::Window), book_(std::move(book)) {
  setWindowTitle(book_.title);
  setObjectName(QStringLiteral("helpWindow"));
  browser_ = new QTextBrowser(this);
  // One style sheet for all topics; a page keeps it when the browser moves on.
  QFile style(QStringLiteral(":/widgets/help.css"));
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
  ShowPage(HelpTopicPage(book_, context));
}

void HelpWindow::ShowContents() {
  ShowPage(PageUrl(book_, "contents.html"));
}

void HelpWindow::ShowHelpOnHelp() {
  // A program without a page on the viewer shows its contents instead.
  const bool own = QFile::exists(book_.folder + QStringLiteral("/help_on_help.html"));
  ShowPage(PageUrl(book_, own ? "help_on_help.html" : "contents.html"));
}

void HelpWindow::Quit() {
  close();
}

void HelpWindow::UpdateTitle() {
  const QString plain = book_.title;
  const QString topic = browser_->documentTitle().simplified();
  // The contents page bears the window's own title; it is not said twice.
  setWindowTitle(topic.isEmpty() || topic == plain ? plain : plain + QStringLiteral(" - ") + topic);
}

QString HelpWindow::CurrentPage() const {
  return browser_->source().toString();
}

}  // namespace qx::ui
