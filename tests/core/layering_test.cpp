// Test of the layering of the whole tree: keeps the layers one way by reading
// every source file's includes and checking each against the folders its
// layer may use.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Each layer and the layers it may include besides itself. The core folders
// are a strict order: each uses only those before it.
const std::map<std::string, std::set<std::string>>& AllowedIncludes() {
  static const std::map<std::string, std::set<std::string>> allowed = [] {
    const std::vector<std::string> core = {"core/platform", "core/fsutil",  "core/digest",
                                           "core/compress", "core/notices", "core/widthlist",
                                           "core/format",   "core/cache",   "core/signature",
                                           "core/package",  "core/launch"};
    std::map<std::string, std::set<std::string>> table;
    std::set<std::string> below;
    for (const std::string& layer : core) {
      table[layer] = below;
      below.insert(layer);
    }
    const std::set<std::string> all_core = below;
    table["sealer/project"] = all_core;
    std::set<std::string> ui = all_core;
    ui.insert({"sealer/project", "widgets"});
    table["sealer/ui"] = ui;
    table["client"] = all_core;
    table["widgets"] = all_core;
    std::set<std::string> client_ui = all_core;
    client_ui.insert({"client", "widgets"});
    table["client_ui"] = client_ui;
    std::set<std::string> tool = all_core;
    tool.insert({"sealer/project", "client"});
    table["tools/qxweb"] = tool;
    return table;
  }();
  return allowed;
}

// The layer a path inside the tree belongs to: a top folder that is a layer
// whole ("client", "widgets", "client_ui") or the first two components
// ("core/format"); empty for anything else.
std::string LayerOf(const std::string& path) {
  const size_t first = path.find('/');
  if (first == std::string::npos) {
    return {};
  }
  const std::string top = path.substr(0, first);
  if (top == "client" || top == "widgets" || top == "client_ui") {
    return top;
  }
  const size_t second = path.find('/', first + 1);
  return second == std::string::npos ? std::string() : path.substr(0, second);
}

struct Include {
  std::string file;
  std::string target;
  bool qt = false;
};

std::vector<Include> ReadIncludes(const fs::path& root, const std::string& top) {
  static const std::regex kInclude(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::vector<Include> found;
  if (!fs::exists(root / top)) {
    return found;
  }
  for (const auto& item : fs::recursive_directory_iterator(root / top)) {
    const std::string extension = item.path().extension().string();
    if (!item.is_regular_file() || (extension != ".cpp" && extension != ".h")) {
      continue;
    }
    const std::string file = fs::relative(item.path(), root).generic_string();
    std::ifstream in(item.path());
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) {
      if (std::regex_search(line, match, kInclude)) {
        const std::string target = match[2];
        const bool angle = match[1] == "<";
        found.push_back({file, target, angle && target.size() > 1 && target[0] == 'Q'});
      }
    }
  }
  return found;
}

TEST(Layering, EveryIncludeStaysWithinItsLayersReach) {
  const fs::path root = QX_SOURCE_DIR;
  const auto& allowed = AllowedIncludes();
  // Every folder of the core has its place in the order.
  for (const auto& item : fs::directory_iterator(root / "core")) {
    if (item.is_directory()) {
      const std::string layer = "core/" + item.path().filename().string();
      EXPECT_TRUE(allowed.count(layer)) << layer << " has no place in the layer table";
    }
  }
  size_t checked = 0;
  // Qt belongs to the windows and what they share, nowhere else.
  const std::set<std::string> qt_layers = {"sealer/ui", "widgets", "client_ui"};
  for (const char* top : {"core", "sealer", "client", "tools", "widgets", "client_ui"}) {
    for (const Include& include : ReadIncludes(root, top)) {
      const std::string from = LayerOf(include.file);
      ASSERT_TRUE(allowed.count(from)) << include.file << " lies in no known layer";
      EXPECT_FALSE(include.qt && !qt_layers.count(from))
          << include.file << " includes Qt (<" << include.target << ">)";
      const std::string to = LayerOf(include.target);
      if (to.empty() || to == from || !fs::exists(root / include.target)) {
        continue;  // a system header, or the generated export header
      }
      ++checked;
      EXPECT_TRUE(allowed.at(from).count(to))
          << include.file << " (" << from << ") includes " << include.target << " (" << to
          << "), which its layer may not use";
    }
  }
  EXPECT_GT(checked, 50u);
}

// Every file of the tree a file includes, directly or through others, as
// paths from the root.
std::set<std::string> IncludeClosure(const fs::path& root, const std::string& file,
                                     const std::map<std::string, std::vector<std::string>>& graph) {
  std::set<std::string> reached;
  std::vector<std::string> pending = {file};
  while (!pending.empty()) {
    const std::string next = pending.back();
    pending.pop_back();
    const auto found = graph.find(next);
    if (found == graph.end()) {
      continue;
    }
    for (const std::string& target : found->second) {
      if (fs::exists(root / target) && reached.insert(target).second) {
        pending.push_back(target);
      }
    }
  }
  return reached;
}

// Message boxes are shown at the edges only: the format, the codec and the
// digests return their failures, and qxweb calls the sealer's engine with
// values, never through a form.
TEST(Layering, BoxesAndFormsStayAtTheEdges) {
  const fs::path root = QX_SOURCE_DIR;
  std::map<std::string, std::vector<std::string>> graph;
  for (const char* top : {"core", "sealer", "client", "tools", "widgets", "client_ui"}) {
    for (const Include& include : ReadIncludes(root, top)) {
      graph[include.file].push_back(include.target);
    }
  }
  const std::set<std::string> boxes = {"core/platform/user_interface.h",
                                       "core/platform/notice_box.h",
                                       "core/platform/console_user_interface.h"};
  const std::set<std::string> form = {"sealer/project/form_view.h",
                                      "sealer/project/memory_form_view.h"};
  const struct {
    std::string folder;
    const std::set<std::string>& forbidden;
  } rules[] = {{"core/format/", boxes},
               {"core/compress/", boxes},
               {"core/digest/", boxes},
               {"tools/qxweb/", form}};
  size_t checked = 0;
  for (const auto& [file, targets] : graph) {
    for (const auto& rule : rules) {
      if (file.rfind(rule.folder, 0) != 0) {
        continue;
      }
      ++checked;
      for (const std::string& reached : IncludeClosure(root, file, graph)) {
        EXPECT_EQ(rule.forbidden.count(reached), 0u) << file << " reaches " << reached;
      }
    }
  }
  EXPECT_GT(checked, 20u);
}

}  // namespace
