#pragma once

// The sealer's dialogs: About, the project file dialogs (Open and Save As),
// Locate Directory, Choose Signing Key and the key's passphrase, with seams
// through which tests answer the file and passphrase dialogs. Sealer window.

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qx::ui {

inline constexpr char kProductVersion[] = "02.00";

// Help contexts of the file dialogs while they are shown.
inline constexpr int kSaveAsHelpContext = 801;
inline constexpr int kOpenHelpContext = 802;
inline constexpr int kLocateDirectoryHelpContext = 803;
inline constexpr int kSigningKeyHelpContext = 804;

// The About box: the product name with the version, the icon and the notices.
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* owner);
  // The first line, as shown.
  QString TitleLine() const;

 protected:
  void showEvent(QShowEvent* event) override;
};

// What a file dialog is asked to show.
struct FileDialogRequest {
  enum class Kind { kOpen, kSaveAs, kLocateDirectory };
  Kind kind = Kind::kOpen;
  QString title;
  QString directory;      // where it starts
  QString proposed_name;  // the name in its file-name box
  QString filter;
};

// Answers a file dialog instead of showing it: the chosen path, or nullopt
// for Cancel. Tests install one; null shows the real dialogs.
using FileDialogHook = std::function<std::optional<QString>(const FileDialogRequest&)>;
void SetFileDialogHook(FileDialogHook hook);

// Shows Open Project File or Save Project File As over |owner|, starting in
// the directory of |path| (or |project_directory| when it has none), and
// writes the chosen path into |path|; a cancel empties it. |help_context|
// takes the dialog's context.
bool ChooseProjectFile(QWidget* owner, bool save_as, std::string& path, std::string_view appl_name,
                       std::string_view project_directory, int& help_context);

// Shows Choose Signing Key over |owner|, starting at the key file |current|
// (or in the home directory when there is none); the file chosen, or
// nothing when cancelled.
std::optional<std::string> ChooseSigningKeyFile(QWidget* owner, const std::string& current,
                                                int& help_context);

// Answers a passphrase dialog instead of showing it: the passphrase typed
// for the key file named, or nullopt for Cancel. Tests install one; null
// shows the real dialog.
using PassphraseHook = std::function<std::optional<QString>(const QString& key_path)>;
void SetPassphraseHook(PassphraseHook hook);

// Asks over |owner|, without echo, the passphrase of the encrypted secret key
// file |key_path|; its UTF-8 bytes, or nothing when cancelled.
std::optional<std::string> AskKeyPassphrase(QWidget* owner, const std::string& key_path);

// Shows Locate Directory over |owner|, starting in |start|; the directory
// chosen, without a trailing separator, or nothing when cancelled.
std::optional<std::string> LocateDirectory(QWidget* owner, const std::string& start,
                                           int& help_context);

}  // namespace qx::ui
