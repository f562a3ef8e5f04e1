#pragma once

// The sealer's help viewer: a window over the HTML topics compiled into the
// program, one topic per context number, with contents and help on help. Its
// title names the topic shown; Close and Escape hide it.

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace qx::ui {

inline constexpr char kHelpFileName[] = "qxsealer-lite.hlp";

// The resource page of |context|; the contents page when there is none.
QString HelpTopicPage(int context);
// Whether |context| has a page of its own (or shares one with its field).
bool HasHelpTopic(int context);

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // The viewer's four requests.
  void ShowTopic(int context);
  void ShowContents();
  void ShowHelpOnHelp();
  void Quit();

  // The page shown, as a resource path ("" before the first request).
  QString CurrentPage() const;
  QTextBrowser* browser() const { return browser_; }

 private:
  void ShowPage(const QString& page);
  void UpdateTitle();

  QTextBrowser* browser_;
};

}  // namespace qx::ui
