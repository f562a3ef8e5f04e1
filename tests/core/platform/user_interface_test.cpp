// Tests of the user interfaces (platform layer): the console interface, the
// scripted one of the tests, and the scoped install.
#include "core/platform/user_interface.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/platform/console_user_interface.h"
#include "tests/support/scripted_user_interface.h"

namespace qx {
namespace {

std::string Captured(std::FILE* stream) {
  std::rewind(stream);
  std::string text;
  int c;
  while ((c = std::fgetc(stream)) != EOF) {
    text += static_cast<char>(c);
  }
  return text;
}

TEST(ConsoleUserInterface, PrintsCaptionAndTextWithoutSurroundingLineFeeds) {
  std::FILE* stream = std::tmpfile();
  ConsoleUserInterface ui(stream);
  MessageBoxRequest box;
  box.caption = "Tarnwick Web Sealer";
  box.text = "\ncompress: input: not in gzip format\n";
  EXPECT_EQ(ui.ShowMessageBox(box), BoxAnswer::kOk);
  EXPECT_EQ(Captured(stream), "Tarnwick Web Sealer: compress: input: not in gzip format\n");
  std::fclose(stream);
}

TEST(ConsoleUserInterface, AnswersQuestionsFromTheDefaultsItWasGiven) {
  std::FILE* stream = std::tmpfile();
  ConsoleUserInterface ui(stream);
  MessageBoxRequest question;
  question.caption = "C";
  question.text = "Directory /x does not exist, create it?";
  question.buttons = BoxButtons::kOkCancel;
  EXPECT_EQ(ui.ShowMessageBox(question), BoxAnswer::kOk);
  ui.SetOkCancelAnswer(BoxAnswer::kCancel);
  EXPECT_EQ(ui.ShowMessageBox(question), BoxAnswer::kCancel);
  question.buttons = BoxButtons::kYesNoCancel;
  ui.SetYesNoAnswer(BoxAnswer::kNo);
  EXPECT_EQ(ui.ShowMessageBox(question), BoxAnswer::kNo);
  const std::string out = Captured(stream);
  EXPECT_NE(out.find("create it? [OK]\n"), std::string::npos);
  EXPECT_NE(out.find("create it? [Cancel]\n"), std::string::npos);
  EXPECT_NE(out.find("create it? [No]\n"), std::string::npos);
  std::fclose(stream);
}

TEST(ConsoleUserInterface, AsksYesNoQuestionsOnItsPromptInput) {
  std::FILE* stream = std::tmpfile();
  std::FILE* input = std::tmpfile();
  std::fputs("Yes\n y \nyess\n\n", input);
  std::rewind(input);
  ConsoleUserInterface ui(stream);
  ui.SetPromptInput(input);
  MessageBoxRequest question;
  question.caption = "C";
  question.text = "Delete it?";
  question.buttons = BoxButtons::kYesNo;
  for (const BoxAnswer expected :
       {BoxAnswer::kYes, BoxAnswer::kYes, BoxAnswer::kNo, BoxAnswer::kNo, BoxAnswer::kNo}) {
    EXPECT_EQ(ui.ShowMessageBox(question), expected);  // the last one at the end of input
  }
  EXPECT_NE(Captured(stream).find("C: Delete it? [y/N] "), std::string::npos);
  std::fclose(input);
  std::fclose(stream);
}

TEST(ScriptedUserInterface, RecordsBoxesAndBeepsInOrderAndAnswersFromItsQueue) {
  ScriptedUserInterface ui;
  ScopedUserInterface scope(ui);
  ui.QueueAnswer(BoxAnswer::kNo);
  MessageBoxRequest box;
  box.owner = &ui;
  box.text = "Do you want to save the modified Project File?";
  box.caption = "Tarnwick Web Sealer";
  box.icon = BoxIcon::kQuestion;
  box.buttons = BoxButtons::kYesNoCancel;
  EXPECT_EQ(BeepAndShow(BeepKind::kSimple, box), BoxAnswer::kNo);
  EXPECT_EQ(BeepAndShow(BeepKind::kDefault, box), BoxAnswer::kOk);  // queue empty: default
  ASSERT_EQ(ui.events().size(), 4u);
  EXPECT_TRUE(ui.events()[0].is_beep);
  EXPECT_EQ(ui.events()[0].beep, BeepKind::kSimple);
  EXPECT_FALSE(ui.events()[1].is_beep);
  EXPECT_EQ(ui.events()[2].beep, BeepKind::kDefault);
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[0].owner, &ui);
  EXPECT_EQ(ui.boxes()[0].icon, BoxIcon::kQuestion);
  EXPECT_EQ(ui.boxes()[0].buttons, BoxButtons::kYesNoCancel);
  EXPECT_EQ(ui.beeps(), 2);
}

TEST(UserInterface, ScopedInstallRestoresThePreviousInterface) {
  ScriptedUserInterface outer, inner;
  ScopedUserInterface outer_scope(outer);
  {
    ScopedUserInterface inner_scope(inner);
    EXPECT_EQ(&CurrentUserInterface(), &inner);
  }
  EXPECT_EQ(&CurrentUserInterface(), &outer);
}

}  // namespace
}  // namespace qx
