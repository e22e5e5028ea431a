// The davfp program's platform commands, run as separate processes against a real WebDAV server: their
// JSON output on success, the error line and status on failure, and bad input that must change nothing.
#include <gtest/gtest.h>

#include <regex>

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
    drive_.placeOnServer("with space.txt", "space\n");
    drive_.serve();
  }

  // Runs a command that must succeed and returns its JSON lines.
  std::vector<json> ok(const std::vector<std::string>& args) {
    ProcessResult r = drive_.davfp(args);
    EXPECT_EQ(r.status, 0) << "stdout: " << r.out << "\nstderr: " << r.err;
    return jsonLines(r.out);
  }

  // The child named name of a container, as enumerate reports it.
  json child(const std::string& container, const std::string& name) {
    for (const auto& item : ok({"enumerate", container})) {
      if (item["name"] == name) return item;
    }
    ADD_FAILURE() << "no " << name << " in " << container;
    return json::object();
  }

  // Checks a failed platform command: status 1 and exactly the one error line with this domain and code.
  static void expectError(const ProcessResult& r, const std::string& domain, long code) {
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    auto lines = jsonLines(r.out);
    ASSERT_EQ(lines.size(), 1u) << r.out;
    EXPECT_EQ(lines[0]["error"]["domain"], domain) << r.out;
    EXPECT_EQ(lines[0]["error"]["code"], code) << r.out;
    EXPECT_FALSE(lines[0]["error"]["message"].get<std::string>().empty()) << r.out;
  }

  HostDrive drive_;
};

TEST_F(DavfpCliTest, ReadCommandsPrintItemsAsTheExtensionReportsThem) {
  auto root = ok({"item", "root"});
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root[0], json::parse(R"({"id":"NSFileProviderRootContainerItemIdentifier",
      "parent":"NSFileProviderRootContainerItemIdentifier","name":"Test Drive","type":"inode/directory",
      "size":null,"modified":null,"contentVersion":"root","metadataVersion":"root|/","capabilities":47,
      "capabilityNames":["reading","writing","reparenting","renaming","deleting"],"path":"/"})"));
  // The keys come in the documented order.
  std::string line = drive_.davfp({"item", "root"}).out;
  EXPECT_LT(line.find("\"id\""), line.find("\"parent\""));
  EXPECT_LT(line.find("\"metadataVersion\""), line.find("\"capabilities\""));

  auto items = ok({"enumerate", "root"});
  std::map<std::string, json> byName;
  for (const auto& item : items) byName[item["name"]] = item;
  ASSERT_EQ(byName.size(), 3u) << json(items).dump();
  const std::regex rfc3339(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
  for (const auto& [name, item] : byName) {
    SCOPED_TRACE(name);
    EXPECT_EQ(item["parent"], kRoot);
    EXPECT_EQ(item["capabilities"], 47);
    EXPECT_EQ(item["capabilityNames"],
              json::parse(R"(["reading","writing","reparenting","renaming","deleting"])"));
    // An item in the root tells its path by itself.
    EXPECT_EQ(item["path"], "/" + name);
    EXPECT_TRUE(std::regex_match(item["modified"].get<std::string>(), rfc3339)) << item.dump();
    EXPECT_TRUE(item["metadataVersion"].get<std::string>().ends_with("|/" + name)) << item.dump();
  }
  EXPECT_EQ(byName["docs"]["type"], "inode/directory");
  EXPECT_TRUE(byName["docs"]["size"].is_null());
  EXPECT_EQ(byName[kUmlautName]["size"], 8);
  EXPECT_EQ(byName[kUmlautName]["type"], "text/plain");

  // A lookup by identifier gives the same item; enumerating a folder by identifier gives its children.
  auto again = ok({"item", byName["with space.txt"]["id"]});
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0], byName["with space.txt"]);
  auto docs = ok({"enumerate", byName["docs"]["id"]});
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0]["parent"], byName["docs"]["id"]);
  // Deeper, the path would cost a request per folder above: the platform commands leave it null.
  EXPECT_TRUE(docs[0]["path"].is_null()) << docs[0].dump();

  // The trash is always empty; the working set holds the children of every folder listed so far.
  EXPECT_TRUE(ok({"enumerate", "trash"}).empty());
  EXPECT_EQ(ok({"enumerate", "workingset"}).size(), 5u);
}

TEST_F(DavfpCliTest, FetchWritesTheContentsToDestAndPrintsTheItem) {
  json file = child("root", kUmlautName);
  std::string dest = drive_.scratch() + "/fetched.txt";
  writeFile(dest, "to be replaced");
  auto out = ok({"fetch", file["id"], dest});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], file);
  EXPECT_EQ(readFile(dest), "umlauts\n");
  // The download directory next to DEST is gone again.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(drive_.scratch()), {}), 1);

  // Several MiB, every byte value.
  std::string big;
  for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i) big += static_cast<char>(i * 7 % 256);
  drive_.placeOnServer("docs/big.bin", big);
  json bigItem = child(child("root", "docs")["id"], "big.bin");
  ok({"fetch", bigItem["id"], dest});
  EXPECT_TRUE(readFile(dest) == big);
}

TEST_F(DavfpCliTest, ChangesReportsServerSideChangesUnderARisingAnchor) {
  json docs = child("root", "docs");
  json a = child(docs["id"], "a.txt");
  auto anchor = ok({"anchor"});
  ASSERT_EQ(anchor.size(), 1u);
  ASSERT_TRUE(anchor[0]["anchor"].is_string());
  EXPECT_TRUE(std::regex_match(anchor[0]["anchor"].get<std::string>(), std::regex("[0-9]+")));

  // Nothing changed: only the anchor, the same one.
  auto quiet = ok({"changes"});
  ASSERT_EQ(quiet.size(), 1u);
  EXPECT_EQ(quiet[0], anchor[0]);

  drive_.placeOnServer("docs/new.txt", "new\n");
  std::filesystem::remove(drive_.served() + "/docs/a.txt");
  auto changes = ok({"changes"});
  ASSERT_EQ(changes.size(), 3u) << json(changes).dump();
  std::set<std::string> seen;
  for (size_t i = 0; i + 1 < changes.size(); ++i) {
    if (changes[i].contains("updated")) {
      EXPECT_EQ(changes[i]["updated"]["name"], "new.txt");
      EXPECT_EQ(changes[i]["updated"]["parent"], docs["id"]);
      seen.insert("updated");
    } else {
      EXPECT_EQ(changes[i]["deleted"], a["id"]);
      seen.insert("deleted");
    }
  }
  EXPECT_EQ(seen.size(), 2u);
  std::string after = changes.back()["anchor"];
  EXPECT_GT(std::stoll(after), std::stoll(anchor[0]["anchor"].get<std::string>()));
  EXPECT_EQ(ok({"anchor"})[0]["anchor"], after);
  // Reported once: the next pass is quiet again.
  EXPECT_EQ(ok({"changes"}).size(), 1u);
}

TEST_F(DavfpCliTest, ReadCommandsFailWithTheExtensionsError) {
  struct Case {
    std::vector<std::string> args;
    std::string domain;
    long code;
  } cases[] = {
      {{"item", "no-such-identifier"}, "NSFileProviderErrorDomain", -1005},
      {{"enumerate", "no-such-identifier"}, "NSFileProviderErrorDomain", -1005},
      {{"fetch", "no-such-identifier", drive_.scratch() + "/x"}, "NSFileProviderErrorDomain", -1005},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    expectError(drive_.davfp(c.args), c.domain, c.code);
  }
  EXPECT_FALSE(fileExists(drive_.scratch() + "/x"));

  // An item that vanished from the server since it was listed.
  json a = child(child("root", "docs")["id"], "a.txt");
  std::filesystem::remove(drive_.served() + "/docs/a.txt");
  expectError(drive_.davfp({"item", a["id"]}), "NSFileProviderErrorDomain", -1005);
  expectError(drive_.davfp({"fetch", a["id"], drive_.scratch() + "/x"}), "NSFileProviderErrorDomain", -1005);
}

TEST_F(DavfpCliTest, AServerThatIsGoneIsReportedUnreachable) {
  // The published address answers no more, and no host application is installed to publish a new one: the
  // engine polls for its 15 seconds. (Once: the JSON form of an error is the same for every error.)
  drive_.server().stop();
  ProcessResult ls = drive_.davfp({"-v", "ls", "docs"});
  EXPECT_EQ(ls.status, 1);
  EXPECT_EQ(ls.out, "");
  // -v adds the platform's domain and code, and what lies underneath: the probe that found nothing there.
  EXPECT_TRUE(std::regex_match(
      ls.err, std::regex("davfp: /docs: the server cannot be reached \\(NSFileProviderErrorDomain "
                         "-1004; OPTIONS /dav/: .+ \\(curl 7\\)\\)\n")))
      << ls.err;
}

TEST_F(DavfpCliTest, WriteCommandsCreateModifyAndDelete) {
  std::string local = drive_.scratch() + "/local.txt";
  writeFile(local, "local contents\n");
  ProcessResult first = drive_.davfp({"create", "root", "made", "--folder"});
  ASSERT_EQ(first.status, 0) << first.out;
  json folder = jsonLines(first.out).at(0);
  EXPECT_EQ(folder["name"], "made");
  EXPECT_EQ(folder["type"], "inode/directory");
  EXPECT_EQ(folder["parent"], kRoot);
  EXPECT_EQ(drive_.serverTree().at("made"), "<dir>");

  json file = ok({"create", folder["id"], "Ünïcode file.txt", "--contents", local}).at(0);
  EXPECT_EQ(file["size"], 15);
  EXPECT_EQ(file["parent"], folder["id"]);
  EXPECT_EQ(readFile(drive_.served() + "/made/Ünïcode file.txt"), "local contents\n");
  json empty = ok({"create", "root", "empty.txt", "--type", "text/plain"}).at(0);
  EXPECT_EQ(empty["size"], 0);
  EXPECT_EQ(readFile(drive_.served() + "/empty.txt"), "");

  // Rename; move; replace contents; a field the extension does not apply comes back pending.
  json renamed = ok({"modify", file["id"], "--name", "renamed.txt"}).at(0);
  EXPECT_EQ(renamed["id"], file["id"]);
  EXPECT_EQ(renamed["name"], "renamed.txt");
  EXPECT_EQ(renamed["pendingFields"], 0);
  EXPECT_TRUE(fileExists(drive_.served() + "/made/renamed.txt"));
  json moved = ok({"modify", file["id"], "--parent", "root"}).at(0);
  EXPECT_EQ(moved["parent"], kRoot);
  EXPECT_TRUE(fileExists(drive_.served() + "/renamed.txt"));
  writeFile(local, "replaced\n");
  json replaced = ok({"modify", file["id"], "--contents", local}).at(0);
  EXPECT_EQ(replaced["size"], 9);
  EXPECT_NE(replaced["contentVersion"], moved["contentVersion"]);
  EXPECT_EQ(readFile(drive_.served() + "/renamed.txt"), "replaced\n");
  auto tree = drive_.serverTree();
  json dated = ok({"modify", file["id"], "--fields", "0x80"}).at(0);
  EXPECT_EQ(dated["pendingFields"], 0x80);
  EXPECT_EQ(drive_.serverTree(), tree);

  // Delete a file with its current version, then a folder with everything in it.
  EXPECT_EQ(ok({"delete", file["id"]}).at(0), json({{"deleted", file["id"]}}));
  EXPECT_FALSE(fileExists(drive_.served() + "/renamed.txt"));
  ok({"create", folder["id"], "inside.txt"});
  ok({"delete", folder["id"], "--recursive"});
  EXPECT_FALSE(fileExists(drive_.served() + "/made"));
}

TEST_F(DavfpCliTest, WriteCommandsFailWithoutChangingTheServer) {
  json docs = child("root", "docs");
  json a = child(docs["id"], "a.txt");
  ProcessResult probe = drive_.davfp({"modify", a["id"], "--name", "with space.txt", "--parent", "root"});
  auto tree = drive_.serverTree();
  // A move onto a name the target folder already holds is refused by the server.
  expectError(probe, "NSCocoaErrorDomain", 512);
  EXPECT_EQ(drive_.serverTree(), tree);

  // Deleting a version the server no longer holds is refused.
  drive_.placeOnServer("docs/a.txt", "changed on the server\n");
  expectError(drive_.davfp({"delete", a["id"], "--version", a["contentVersion"]}),
              "NSFileProviderErrorDomain", -1006);
  // A folder with contents needs --recursive.
  expectError(drive_.davfp({"delete", docs["id"]}), "NSFileProviderErrorDomain", -1007);
  // A parent the extension never handed out.
  expectError(drive_.davfp({"create", "no-such-identifier", "x.txt"}), "NSFileProviderErrorDomain", -1005);
  expectError(drive_.davfp({"modify", "no-such-identifier", "--name", "x.txt"}), "NSFileProviderErrorDomain",
              -1005);
  tree["docs/a.txt"] = "changed on the server\n";
  EXPECT_EQ(drive_.serverTree(), tree);
}

TEST_F(DavfpCliTest, BadInputChangesNothing) {
  json a = child(child("root", "docs")["id"], "a.txt");
  std::string id = a["id"];
  std::string local = drive_.scratch() + "/local.txt";
  writeFile(local, "x");
  std::filesystem::create_directory(drive_.scratch() + "/dir");
  const std::string missing = drive_.scratch() + "/missing/file";
  auto tree = drive_.serverTree();
  auto state = drive_.stateFiles();
  ASSERT_FALSE(state.empty());

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // on stdout (JSON) for platform commands' failures, else on stderr
  } cases[] = {
      {{}, 2, "A subcommand is required"},
      {{"frobnicate"}, 2, "unknown command \"frobnicate\""},
      {{"item"}, 2, "ID is required"},
      {{"fetch", id}, 2, "DEST is required"},
      {{"create", "root"}, 2, "NAME is required"},
      {{"put", local}, 2, "PATH is required"},
      {{"mv", "/docs"}, 2, "TO is required"},
      {{"create", "root", "a/b"}, 2, "cannot contain \"/\""},
      {{"create", "root", ".."}, 2, "not a valid name"},
      {{"create", "root", ""}, 2, "cannot be empty"},
      {{"modify", id, "--name", "x/y"}, 2, "cannot contain \"/\""},
      {{"modify", id, "--fields", "lots"}, 2, "not a field mask"},
      {{"create", "root", "f", "--folder", "--contents", local}, 2, "excludes"},
      {{"delete", id, "--version", "1", "--before-first-sync"}, 2, "excludes"},
      {{"mkdir", "docs/../x"}, 2, "\"..\" are not supported"},
      {{"mv", "/", "/x"}, 2, "root folder cannot be moved"},
      {{"rm", "-r", "/"}, 2, "root folder cannot be deleted"},
      {{"watch", "--interval", "0"}, 2, "interval"},
      {{"fetch", id, missing}, 1, "No such file or directory"},
      {{"fetch", id, drive_.scratch() + "/dir"}, 1, "Is a directory"},
      {{"fetch", id, local + "/below-a-file"}, 1, "Not a directory"},
      {{"create", "root", "new.txt", "--contents", missing}, 1, "No such file or directory"},
      {{"modify", id, "--contents", drive_.scratch() + "/dir"}, 1, "Is a directory"},
      {{"put", missing, "/docs/x.txt"}, 1, "davfp: " + missing + ": No such file or directory"},
      {{"get", "/docs/a.txt", missing},
       1,
       "davfp: " + drive_.scratch() + "/missing: No such file or directory"},
      {{"--domain", "nosuch", "ls"}, 1, "no drive \"nosuch\" is published"},
      {{"--domain", "nosuch", "item", "root"}, 1, "no drive \\\"nosuch\\\" is published"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& arg : c.args) shown += " " + arg;
    SCOPED_TRACE("davfp" + shown);
    ProcessResult r = drive_.davfp(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    bool jsonError = c.status == 1 && !c.args.empty() &&
                     std::set<std::string>{"item", "fetch", "create", "modify"}.contains(
                         c.args[0] == "--domain" ? c.args[2] : c.args[0]);
    const std::string& where = jsonError ? r.out : r.err;
    EXPECT_NE(where.find(c.message), std::string::npos) << "stdout: " << r.out << "\nstderr: " << r.err;
    if (jsonError) {
      EXPECT_EQ(jsonLines(r.out).size(), 1u);
    }
    EXPECT_EQ(drive_.serverTree(), tree);
    EXPECT_EQ(drive_.stateFiles(), state);
  }
  EXPECT_EQ(readFile(local), "x");
}

TEST_F(DavfpCliTest, TheDriveIsTheOnlyOnePublishedOrTheOneNamed) {
  std::string url = drive_.server().baseUrl();
  // Several drives: the command must say which; each works when named.
  drive_.publish({{"t", {"Test Drive", url}}, {"other", {"Other Drive", url}}});
  ProcessResult several = drive_.davfp({"ls"});
  EXPECT_EQ(several.status, 1);
  EXPECT_NE(several.err.find("several drives are published and none is the default: other (\"Other Drive\"), "
                             "t (\"Test Drive\"); choose one with --domain ID"),
            std::string::npos)
      << several.err;
  EXPECT_EQ(ok({"--domain", "other", "item", "root"}).at(0)["name"], "Other Drive");
  ProcessResult fromEnvironment = drive_.davfp({"item", "root"}, {"DAVFP_DOMAIN=other"});
  EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.err;
  EXPECT_EQ(jsonLines(fromEnvironment.out).at(0)["name"], "Other Drive");
  // None: the command says where it looked.
  std::filesystem::remove(drive_.drivesFile());
  ProcessResult none = drive_.davfp({"ls"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no drive is published in " + drive_.drivesFile()), std::string::npos) << none.err;
}

}  // namespace
}  // namespace davfp::testing
