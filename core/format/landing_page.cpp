// The landing page's lines shared by both editions, and the writer that fills
// in the title, the header file and the application name. Format layer.
#include "core/format/landing_page.h"

#include <string>

#include "core/format/header_lines.h"

namespace qx {

namespace {

// Lines 1 to 21, shared by both editions. A "%s" is the title, except in
// the embed line (the name and the header extension).
constexpr std::string_view kCommonLines[] = {
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">",
    "<html>",
    "<head>",
    "<meta http-equiv=\"Content-Type\"",
    "content=\"text/html; charset=iso-8859-1\">",
    "<meta name=\"GENERATOR\" content=\"Tarnwick Web Sealer\">",
    "<title>%s</title>",
    "</head>",
    "<body bgcolor=\"#FFFFFF\">",
    "<h1 align=\"center\">%s</h1>",
    "<p>&nbsp;</p>",
    "<div align=\"left\">",
    "<table border=\"0\" cellpadding=\"5\">",
    "    <tr>",
    "        <td valign=\"top\">",
    "        <!-- This embed tag loads the Tarnwick Web Opener plugin. -->",
    "        <embed src=\"%s\" align=\"top\" border=\"0\"",
    "        width=\"120\" height=\"120\"></td>",
    "        <td>The icon that is displayed the first time you view",
    "        this file lets you download and run",
    "        <i>%s</i>,",
};
constexpr size_t kEmbedLine = 16;  // 0-based index of line 17

void PutLine(std::FILE* file, std::string_view line, std::string_view fill) {
  std::string text(line);
  if (std::string::size_type at = text.find("%s"); at != std::string::npos) {
    text.replace(at, 2, fill);
  }
  text += "\r\n";
  std::fwrite(text.data(), 1, text.size(), file);
}

}  // namespace

int WriteLandingPage(std::FILE* file, const char* title, const char* name) {
  if (file == nullptr || name == nullptr) {
    return -1;
  }
  const std::string_view page_title = (title == nullptr || title[0] == 0) ? name : title;
  std::string header_file(name);
  header_file += '.';
  header_file += kHeaderExtension;
  for (size_t i = 0; i < std::size(kCommonLines); ++i) {
    PutLine(file, kCommonLines[i], i == kEmbedLine ? std::string_view(header_file) : page_title);
  }
  for (std::string_view line : LandingPageEditionLines()) {
    PutLine(file, line, name);
  }
  return 0;
}

}  // namespace qx
