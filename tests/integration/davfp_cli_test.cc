// The davfp program's platform commands, run as separate processes against a real WebDAV server: their
// JSON output on success, the error line and status on failure, and bad input that must change nothing.
#include <gtest/gtest.h>

#include "support/host_drive.h"

namespace davfp::testing {
namespace {

using nlohmann::json;

constexpr const char* kRoot = "NSFileProviderRootContainerItemIdentifier";
constexpr const char* kUmlautName = "Grüße ünd Späße.txt";

class DavfpCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    drive_.placeOnServer("docs/a.txt", "alpha\n");
    drive_.placeOnServer("docs/sub/deep.txt", "deep\n");
    drive_.placeOnServer(kUmlautName, "umlauts\n");
    drive_.serve();
  }

  std::vector<json> ok(const std::vector<std::string>& args) { return jsonLines(drive_.ok(args)); }

  // The child named name of a container, as enumerate reports it.
  json child(const std::string& container, const std::string& name) {
    for (const auto& item : ok({"enumerate", container})) {
      if (item["name"] == name) return item;
    }
    ADD_FAILURE() << "no " << name << " in " << container;
    return json::object();
  }

  HostDrive drive_;
};

TEST_F(DavfpCliTest, ReadCommandsPrintItemsContentsAndChanges) {
  std::string rootLine = drive_.ok({"item", "root"});
  EXPECT_EQ(jsonLines(rootLine), std::vector<json>{json::parse(R"({"id":"NSFileProviderRootContainerItemIdentifier",
      "parent":"NSFileProviderRootContainerItemIdentifier","name":"Test Drive","type":"inode/directory",
      "size":null,"modified":null,"contentVersion":"root","metadataVersion":"root|/","capabilities":47,
      "capabilityNames":["reading","writing","reparenting","renaming","deleting"],"path":"/"})")});
  EXPECT_LT(rootLine.find("\"id\""), rootLine.find("\"parent\"")) << "the keys in the documented order";

  std::map<std::string, json> byName;
  for (const auto& item : ok({"enumerate", "root"})) byName[item["name"]] = item;
  ASSERT_EQ(byName.size(), 2u);
  EXPECT_EQ(byName["docs"]["path"], "/docs");
  EXPECT_EQ(byName[kUmlautName]["size"], 8);
  EXPECT_EQ(ok({"item", byName[kUmlautName]["id"]}).at(0), byName[kUmlautName]);
  auto docs = ok({"enumerate", byName["docs"]["id"]});
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0]["parent"], byName["docs"]["id"]);
  EXPECT_TRUE(docs[0]["path"].is_null()) << "deeper, the path would cost a request per folder above";
  EXPECT_TRUE(ok({"enumerate", "trash"}).empty());
  EXPECT_EQ(ok({"enumerate", "workingset"}).size(), 4u);

  // fetch replaces DEST and leaves nothing else behind.
  const std::string dest = drive_.scratch() + "/fetched.txt";
  writeFile(dest, "to be replaced");
  EXPECT_EQ(ok({"fetch", byName[kUmlautName]["id"], dest}).at(0), byName[kUmlautName]);
  EXPECT_EQ(readFile(dest), "umlauts\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(drive_.scratch()), {}), 1);

  // changes: quiet, only the same anchor; then each change once under a higher anchor.
  json a = child(byName["docs"]["id"], "a.txt");
  const std::string anchor = ok({"anchor"}).at(0)["anchor"];
  EXPECT_EQ(ok({"changes"}), (std::vector<json>{{{"anchor", anchor}}}));
  drive_.placeOnServer("docs/new.txt", "new\n");
  std::filesystem::remove(drive_.served() + "/docs/a.txt");
  auto changes = ok({"changes"});
  ASSERT_EQ(changes.size(), 3u) << json(changes).dump();
  const std::string listed = json(changes).dump();
  EXPECT_NE(listed.find(json({{"deleted", a["id"]}}).dump()), std::string::npos) << listed;
  EXPECT_NE(listed.find("\"name\":\"new.txt\""), std::string::npos) << listed;
  const std::string after = changes.back()["anchor"];
  EXPECT_GT(std::stoll(after), std::stoll(anchor));
  EXPECT_EQ(ok({"changes"}), (std::vector<json>{{{"anchor", after}}}));
}

TEST_F(DavfpCliTest, WriteCommandsCreateModifyAndDelete) {
  std::string local = drive_.scratch() + "/local.txt";
  writeFile(local, "local contents\n");
  json folder = ok({"create", "root", "made", "--folder"}).at(0);
  EXPECT_EQ(folder["type"], "inode/directory");
  json file = ok({"create", folder["id"], "Ünïcode file.txt", "--contents", local}).at(0);
  EXPECT_EQ(readFile(drive_.served() + "/made/Ünïcode file.txt"), "local contents\n");

  // Rename, move, replace the contents; a field the extension does not apply comes back pending.
  json renamed = ok({"modify", file["id"], "--name", "renamed.txt"}).at(0);
  EXPECT_EQ(renamed["id"], file["id"]);
  EXPECT_EQ(renamed["pendingFields"], 0);
  EXPECT_TRUE(fileExists(drive_.served() + "/made/renamed.txt"));
  json moved = ok({"modify", file["id"], "--parent", "root"}).at(0);
  writeFile(local, "replaced\n");
  json replaced = ok({"modify", file["id"], "--contents", local}).at(0);
  EXPECT_NE(replaced["contentVersion"], moved["contentVersion"]);
  EXPECT_EQ(readFile(drive_.served() + "/renamed.txt"), "replaced\n");
  auto tree = drive_.serverTree();
  EXPECT_EQ(ok({"modify", file["id"], "--fields", "0x80"}).at(0)["pendingFields"], 0x80);
  EXPECT_EQ(drive_.serverTree(), tree);

  EXPECT_EQ(ok({"delete", file["id"]}).at(0), json({{"deleted", file["id"]}}));
  EXPECT_FALSE(fileExists(drive_.served() + "/renamed.txt"));
  ok({"create", folder["id"], "inside.txt"});
  ok({"delete", folder["id"], "--recursive"});
  EXPECT_FALSE(fileExists(drive_.served() + "/made"));
}

// Refused requests, bad arguments and unusable local files: status 2 for usage, 1 with one JSON error line
// for the platform commands (else a line on stderr), and nothing changed on the server or in the state.
TEST_F(DavfpCliTest, FailuresChangeNothing) {
  json docs = child("root", "docs");
  json a = child(docs["id"], "a.txt");
  const std::string id = a["id"];
  std::filesystem::create_directory(drive_.scratch() + "/dir");
  const std::string missing = drive_.scratch() + "/missing/file";
  drive_.placeOnServer("docs/a.txt", "changed on the server\n");
  auto tree = drive_.serverTree();

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;  // "domain code" of the JSON error line, else part of stderr
  } cases[] = {
      {{"item", "no-such-identifier"}, 1, "NSFileProviderErrorDomain -1005"},
      {{"create", "no-such-identifier", "x.txt"}, 1, "NSFileProviderErrorDomain -1005"},
      // A move onto a name the target folder holds; a version the server no longer has; a full folder.
      {{"modify", id, "--name", kUmlautName, "--parent", "root"}, 1, "NSCocoaErrorDomain 512"},
      {{"delete", id, "--version", a["contentVersion"]}, 1, "NSFileProviderErrorDomain -1006"},
      {{"delete", docs["id"]}, 1, "NSFileProviderErrorDomain -1007"},
      {{"fetch", id, missing}, 1, "NSPOSIXErrorDomain 2"},
      {{"fetch", id, drive_.scratch() + "/dir"}, 1, "NSPOSIXErrorDomain 21"},
      {{"create", "root", "new.txt", "--contents", missing}, 1, "NSPOSIXErrorDomain 2"},
      {{"--domain", "nosuch", "item", "root"}, 1, "NSFileProviderErrorDomain -1004"},
      {{"put", missing, "/docs/x.txt"}, 1, "davfp: " + missing + ": No such file or directory"},
      {{"fetch", id}, 2, "DEST is required"},
      {{"create", "root", ".."}, 2, "not a valid name"},
      {{"modify", id, "--name", "x/y"}, 2, "cannot contain \"/\""},
      {{"mv", "/", "/x"}, 2, "root folder cannot be moved"},
      {{"rm", "-r", "/"}, 2, "root folder cannot be deleted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("davfp " + ::testing::PrintToString(c.args));
    auto state = drive_.stateFiles();
    ProcessResult r = drive_.davfp(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    const std::string command = c.args[0] == "--domain" ? c.args[2] : c.args[0];
    if (c.status == 1 && std::set<std::string>{"item", "enumerate", "fetch", "create", "modify", "delete"}
                             .contains(command)) {
      auto lines = jsonLines(r.out);
      ASSERT_EQ(lines.size(), 1u) << r.out;
      EXPECT_EQ(lines[0]["error"]["domain"].get<std::string>() + " " + lines[0]["error"]["code"].dump(),
                c.error);
      EXPECT_FALSE(lines[0]["error"]["message"].get<std::string>().empty());
    } else {
      EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
    EXPECT_EQ(drive_.serverTree(), tree);
    if (c.status == 2) {
      EXPECT_EQ(drive_.stateFiles(), state);
    }
  }

  // An item that vanished from the server since it was listed.
  std::filesystem::remove(drive_.served() + "/docs/a.txt");
  ProcessResult vanished = drive_.davfp({"fetch", id, drive_.scratch() + "/x"});
  EXPECT_EQ(jsonLines(vanished.out).at(0)["error"]["code"], -1005);
}

}  // namespace
}  // namespace davfp::testing
