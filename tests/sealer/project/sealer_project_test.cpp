// Tests of the sealer project (sealer project layer): collecting and checking
// the form's fields, and the header and project lines written.
#include "sealer/project/sealer_project.h"
#include "sealer/project/project_form.h"

#include <gtest/gtest.h>

#include <string>

#include "core/format/header_lines.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/project_header.h"
#include "sealer/project/seal_request.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::TempDir;

class CollectFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetFieldText(FormControl::kOwner, "Owner Inc");
    view.SetFieldText(FormControl::kName, "demo");
    view.SetFieldText(FormControl::kCommandLine, "bin/demo -x");
    view.SetFieldText(FormControl::kInstallTo, "apps\\demo");
    view.SetFieldText(FormControl::kSealFrom, dir / "src");
    view.SetFieldText(FormControl::kPutTo, dir / "out");
    qx_test::WriteFile(dir / "src/a.txt", "a");
    qx_test::WriteFile(dir / "out/keep", "");
  }

  // The message of the one box shown, or "" when none was.
  std::string OnlyMessage() const {
    return ui.boxes().size() == 1 ? ui.boxes()[0].text : std::string();
  }

  TempDir dir;
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  MemoryFormView view;
  SealerProject project;
};

TEST_F(CollectFormTest, CopiesFieldsAndSetsTheEditionsFixedValues) {
  project.appl_name = "before";
  project.readme_file = "README.TXT";
  project.registry_file = "app.reg";
  ASSERT_TRUE(CollectForm(project, view, true));
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(project.owner, "Owner Inc");
  EXPECT_EQ(project.appl_name, "demo");
  EXPECT_EQ(project.comment, "before");  // the name held before the field was read
  EXPECT_EQ(project.copyright, "copyright");
  EXPECT_EQ(project.readme_file, "");
  EXPECT_EQ(project.registry_file, "app.reg");
  EXPECT_EQ(project.file_version, "1.0.00");
  EXPECT_EQ(project.update_option, "Required");
  EXPECT_EQ(project.delete_package, "Yes");
  EXPECT_EQ(project.download_detail, "Yes");
  EXPECT_EQ(project.combine_download_launch, "Yes");
  EXPECT_EQ(project.install_to, "apps\\demo");
}

TEST_F(CollectFormTest, FieldsAreCutAtTheirLimits) {
  view.SetFieldText(FormControl::kOwner, std::string(300, 'o'));
  view.SetFieldText(FormControl::kCommandLine, std::string(300, 'c'));
  view.SetFieldText(FormControl::kSealFrom, std::string(400, 's'));
  ASSERT_TRUE(CollectForm(project, view, false));
  EXPECT_EQ(project.owner.size(), 127u);
  EXPECT_EQ(project.command_line.size(), 127u);
  EXPECT_EQ(project.seal_from.size(), 255u);
}

struct CheckCase {
  FormControl field;
  std::string text;
  std::string message;
  FormControl focus;
};

TEST_F(CollectFormTest, ChecksInOrderWithTheirMessagesAndFocus) {
  const std::string missing = dir / "nowhere";
  const CheckCase cases[] = {
      {FormControl::kInstallTo, "\\apps", "Invalid InstallTo directory", FormControl::kInstallTo},
      {FormControl::kInstallTo, "/apps", "Invalid InstallTo directory", FormControl::kInstallTo},
      {FormControl::kInstallTo, "C:apps", "Invalid InstallTo directory", FormControl::kInstallTo},
      {FormControl::kInstallTo, "apps\\", "Invalid InstallTo directory", FormControl::kInstallTo},
      {FormControl::kInstallTo, "a\\..\\..\\x", "Invalid InstallTo directory",
       FormControl::kInstallTo},
      {FormControl::kName, "", "Application name is missing", FormControl::kName},
      {FormControl::kName, "demo.exe", "Application name should have no file extension",
       FormControl::kName},
      {FormControl::kName, "a\\b", "Application name should have no path separator (\\ or /)",
       FormControl::kName},
      {FormControl::kName, "a/b", "Application name should have no path separator (\\ or /)",
       FormControl::kName},
      {FormControl::kCommandLine, "", "Command Line was not entered", FormControl::kCommandLine},
      {FormControl::kSealFrom, "", "sealFrom directory was not entered", FormControl::kSealFrom},
      {FormControl::kSealFrom, missing, "Directory " + missing + " does not exist",
       FormControl::kSealFrom},
      {FormControl::kPutTo, "", "putTo directory is was not entered", FormControl::kPutTo},
      {FormControl::kPutTo, dir / "src/", "SealFrom and PutTo are the same directory",
       FormControl::kSealFrom},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryFormView fresh;
    for (FormControl id : {FormControl::kOwner, FormControl::kName, FormControl::kCommandLine,
                           FormControl::kInstallTo, FormControl::kSealFrom, FormControl::kPutTo}) {
      fresh.SetFieldText(id, view.FieldText(id));
    }
    fresh.SetFieldText(c.field, c.text);
    ui.Clear();
    EXPECT_FALSE(CollectForm(project, fresh, true));
    EXPECT_EQ(OnlyMessage(), c.message);
    EXPECT_EQ(ui.beeps(), 1);
    EXPECT_EQ(fresh.focus(), c.focus);
    // Without validation the same form is taken as it stands.
    ui.Clear();
    EXPECT_TRUE(CollectForm(project, fresh, false));
    EXPECT_TRUE(ui.boxes().empty());
  }
}

TEST_F(CollectFormTest, ErrorBoxesHaveNoOwnerAndInfoBoxesTheForm) {
  view.SetFieldText(FormControl::kPutTo, view.FieldText(FormControl::kSealFrom));
  EXPECT_FALSE(CollectForm(project, view, true));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].owner, nullptr);
  EXPECT_EQ(ui.boxes()[0].icon, BoxIcon::kStop);
  EXPECT_EQ(ui.boxes()[0].caption, "Tarnwick Web Sealer");

  ui.Clear();
  view.SetFieldText(FormControl::kPutTo, "relative/out");
  EXPECT_FALSE(CollectForm(project, view, true));
  EXPECT_EQ(OnlyMessage(), "Must provide absolute path in putTo field");

  ui.Clear();
  view.SetFieldText(FormControl::kCommandLine, "");
  EXPECT_FALSE(CollectForm(project, view, true));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].owner, view.Owner());
  EXPECT_EQ(ui.boxes()[0].icon, BoxIcon::kInformation);
}

TEST_F(CollectFormTest, MissingPutToIsCreatedOnlyAfterOk) {
  const std::string put_to = dir / "new/level/out";
  view.SetFieldText(FormControl::kPutTo, put_to);
  ui.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(CollectForm(project, view, true));
  EXPECT_EQ(OnlyMessage(), "Directory " + put_to + " does not exist, create it?");
  EXPECT_EQ(ui.boxes()[0].buttons, BoxButtons::kOkCancel);
  EXPECT_FALSE(qx_test::FileExists(put_to));

  ui.Clear();
  ui.QueueAnswer(BoxAnswer::kOk);
  EXPECT_TRUE(CollectForm(project, view, true));
  EXPECT_TRUE(qx_test::FileExists(put_to));

  // A path that cannot be made: a file stands where a directory must go.
  ui.Clear();
  qx_test::WriteFile(dir / "blocker", "a file");
  view.SetFieldText(FormControl::kPutTo, dir / "blocker/out");
  ui.QueueAnswer(BoxAnswer::kOk);
  EXPECT_FALSE(CollectForm(project, view, true));
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[1].text, "Unable to create " + (dir / "blocker/out") + " directory");
}

TEST(FormFieldChecks, NameWithBlankAndInstallToShapes) {
  const Result<void> blank = CheckNameValue("my app");
  ASSERT_FALSE(blank.ok());
  EXPECT_EQ(blank.error().message, "Invalid application Name (no space(s) allow).");
  EXPECT_EQ(blank.error().code, kSealFieldInvalid);
  EXPECT_EQ(blank.error().path, "ApplName");
  EXPECT_TRUE(CheckNameValue("myapp").ok());

  for (const char* bad : {"\\apps", "C:apps", "apps\\", "../x"}) {
    const Result<void> refused = CheckInstallToValue(bad);
    ASSERT_FALSE(refused.ok()) << bad;
    EXPECT_EQ(refused.error().path, "InstallTo");
    EXPECT_EQ(refused.error().message,
              "Invalid Install To entry. Specify a relative directory path to control where the "
              "application is delivered on the client.");
  }
  for (const char* good : {"", "apps\\demo", "apps/demo"}) {
    EXPECT_TRUE(CheckInstallToValue(good).ok()) << good;
  }
}

std::string WriteToString(SealerProject& project, bool package, DigestContext* digest) {
  TempDir dir;
  std::FILE* file = std::fopen((dir / "out").c_str(), "wb");
  HeaderLineWriter out(file, digest);
  EXPECT_TRUE(WriteHeaderLines(out, project, package));
  std::fclose(file);
  return qx_test::ReadFile(dir / "out");
}

TEST(WriteHeaderLines, ProjectFileLayout) {
  SealerProject project;
  project.owner = "Me";
  project.appl_name = "demo";
  project.command_line = "demo.exe";
  project.version = "01.02.03a";
  project.company_identity = "Yes";  // always written as No
  project.put_to = "";
  project.seal_from = "/src";
  project.file_version = "1.0.00";
  project.file_count = 12;
  project.directory_count = -1;
  std::string text = WriteToString(project, false, nullptr);
  const std::string today = TodayDateText();
  EXPECT_EQ(project.date, today);
  EXPECT_EQ(project.min_version, "01.02.03a");
  EXPECT_EQ(text,
            "##QXKWS## 1.0\r\nOwner: Me\r\nCopyright:\r\nApplName: demo\r\n"
            "CommandLine: demo.exe\r\nVersion: 01.02.03a\r\nMinVersion: 01.02.03a\r\n"
            "Date: " +
                today +
                "\r\nDelete:\r\nReadmeFile:\r\nRegistryFile:\r\nCompanyIdentity: No\r\n"
                "DownloadSplash:\r\nLaunchSplash:\r\nDownloadIcon:\r\nLaunchIcon:\r\n"
                "CorruptIcon:\r\nDownloadDetail:\r\nCombineDownloadLaunch:\r\n"
                "LaunchSplashDuration:\r\nInstallTo:\r\nUpdateOption:\r\nComment:\r\n"
                "FileVersion: 1.0.00\r\nPutTo: \r\nSealFrom: /src\r\nFileCount: 12\r\n"
                "DirectoryCount: -1\r\n*** End Of Header ***\r\n");
}

TEST(WriteHeaderLines, PackageHeaderDigestsAllButCommentsAndCommandLine) {
  SealerProject project;
  project.appl_name = "demo";
  project.version = "01.00.00";
  project.min_version = "00.09.00";
  project.update_option = "Required";
  DigestPtr digest = DigestNew();
  std::string text = WriteToString(project, true, digest.get());
  EXPECT_EQ(project.min_version, "01.00.00");
  EXPECT_EQ(text.find("FileVersion"), std::string::npos);
  EXPECT_EQ(text.find("End Of Header"), std::string::npos);
  EXPECT_EQ(text.rfind("##QXWEB## 1.0\r\n;\r\n; This package was created by Tarnwick Web Lite "
                       "Sealer\r\n",
                       0),
            0u);

  // The same digest from the significant lines alone.
  DigestPtr expected = DigestNew();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    std::string_view line(text.data() + start, end - start);
    if (IsSignificantLine(line)) {
      DigestUpdate(expected.get(), line.data(), line.size());
    }
    start = end + 2;
  }
  char a[kDigestBufferSize] = {};
  char b[kDigestBufferSize] = {};
  ASSERT_EQ(SecureDigest(digest.get(), a, sizeof a, "k"), 0);
  ASSERT_EQ(SecureDigest(expected.get(), b, sizeof b, "k"), 0);
  EXPECT_STREQ(a, b);
}

}  // namespace
}  // namespace qx
