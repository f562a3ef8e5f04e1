#pragma once

// The help viewer of both windows: a window over the HTML topics a program
// compiles in, one topic per context number, with contents and help on
// help. Its title names the topic shown; Close and Escape hide it. Shared
// widgets.

#include <QString>
#include <QWidget>
#include <vector>

class QTextBrowser;

namespace qx::ui {

// A context that shows another's page.
struct HelpTopicAlias {
  int context;
  int page;
};

// One program's help: the viewer's title, the resource folder of the topics
// (NUMBER.html for each context, contents.html and help_on_help.html), and
// the contexts that share a page. Every book takes the style sheet both
// windows share.
struct HelpBook {
  QString title;
  QString folder;  // ":/help"
  std::vector<HelpTopicAlias> aliases;
};

// The resource page of |context| in |book|, as a URL; the contents page when
// there is none.
QString HelpTopicPage(const HelpBook& book, int context);
// Whether |context| has a page of its own in |book| (or shares one).
bool HasHelpTopic(const HelpBook& book, int context);

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(HelpBook book, QWidget* parent = nullptr);

  // The viewer's four requests.
  void ShowTopic(int context);
  void ShowContents();
  void ShowHelpOnHelp();
  void Quit();

  // The page shown, as a resource path ("" before the first request).
  QString CurrentPage() const;
  QTextBrowser* browser() const { return browser_; }
  const HelpBook& book() const { return book_; }

 private:
  void ShowPage(const QString& page);
  void UpdateTitle();

  HelpBook book_;
  QTextBrowser* browser_;
};

}  // namespace qx::ui
