// The links a web page hands to the client's installer, read and written.
#include "core/format/install_link.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(InstallLinkTest, ReadsTheSourceOrSaysWhyNot) {
  struct Case {
    const char* link;
    const char* source;  // empty: refused
    const char* why;     // part of the refusal
  };
  const Case cases[] = {
      {"qxweb:?source=http%3A%2F%2Fexample.org%2Fa%2FDemo.qxw", "http://example.org/a/Demo.qxw",
       ""},
      {"QXWEB:?source=https://example.org:8443/Demo.htm", "https://example.org:8443/Demo.htm", ""},
      {"qxweb:?source=http%3a%2f%2fh%2Fa%2520b.qxw", "http://h/a%20b.qxw", ""},
      {"qxweb:?source=HTTPS%3A%2F%2Fh%2Fx", "HTTPS://h/x", ""},
      {"qxweb:?source=file%3A%2F%2F%2Fetc%2Fpasswd", "", "not an http or https URL"},
      {"qxweb:?source=ftp://h/x", "", "not an http or https URL"},
      {"qxweb:?source=http%3A%2F%2F", "", "names no server"},
      {"qxweb:?source=http://h/x&launch=1", "", "more than source=URL"},
      {"qxweb:?source=http://h/x#frag", "", "more than source=URL"},
      {"qxweb:?source=http://h/x;y", "", "more than source=URL"},
      {"qxweb:?launch=1&source=http://h/x", "", "must be source=URL"},
      {"qxweb:?Source=http://h/x", "", "must be source=URL"},
      {"qxweb://h/?source=http://h/x", "", "must be qxweb:?source=URL"},
      {"qxweb:", "", "must be qxweb:?source=URL"},
      {"qxweb:?source=http%3A%2F%2Fh%2F%0Ax", "", "control character"},
      {"qxweb:?source=http://h/a b", "", "blank"},
      {"qxweb:?source=http%3A%2F%2Fh%2F%2", "", "two hex digits"},
      {"qxweb:?source=http%3A%2F%2Fh%2F%zz", "", "two hex digits"},
      {"http://h/Demo.qxw", "", "does not begin with qxweb:"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(qx::SourceOfInstallLink(c.link, &error), c.source) << c.link;
    if (*c.source == '\0') {
      EXPECT_NE(error.find(c.why), std::string::npos) << c.link << ": " << error;
    }
  }
}

TEST(InstallLinkTest, WrittenLinksReadBackWhole) {
  for (const std::string source :
       {"http://example.org/Demo.qxw", "https://h:1/a%20b/c&d=e#f/%41/Demo.htm?x=1",
        "http://[::1]:8080/~user/D\xc3\xa9mo.qxw"}) {
    const std::string link = qx::InstallLinkOf(source);
    EXPECT_EQ(link.find_first_of("&#; /:", 6), std::string::npos) << link;
    std::string error;
    EXPECT_EQ(qx::SourceOfInstallLink(link, &error), source) << error;
  }
}

}  // namespace
