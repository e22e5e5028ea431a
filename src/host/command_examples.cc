#include "host/command_examples.h"

#include <map>

namespace davfp::cli {

const std::vector<std::string>& examplesOf(const std::string& command) {
  static const std::map<std::string, std::vector<std::string>> examples = {
      {"item", {"davfp item root", "davfp --domain work item 42"}},
      {"enumerate", {"davfp enumerate root", "davfp enumerate workingset | jq -r .path"}},
      {"changes", {"davfp changes"}},
      {"anchor", {"davfp anchor"}},
      {"fetch", {"davfp fetch 42 report.pdf"}},
      {"create", {"davfp create root notes.txt --contents notes.txt", "davfp create root Reports --folder"}},
      {"modify", {"davfp modify 42 --name final.pdf", "davfp modify 42 --contents report.pdf"}},
      {"delete", {"davfp delete 42", "davfp delete 17 --recursive"}},
      {"ls", {"davfp ls -lh /Reports", "davfp ls -R /Reports", "davfp --json ls / | jq -r .path"}},
      {"get", {"davfp get /Reports/q1.pdf", "davfp get -r /Reports ~/backup", "davfp get /a.txt /b.txt ~/"}},
      {"put",
       {"davfp put q1.pdf q2.pdf /Reports/", "davfp put -r photos /", "tar c src | davfp put - /src.tar"}},
      {"cat", {"davfp cat /notes.txt", "davfp cat /a.txt /b.txt > both.txt"}},
      {"tree", {"davfp tree /Reports", "davfp --json tree / | jq -r .path"}},
      {"du", {"davfp du -h /Reports /Photos"}},
      {"mkdir", {"davfp mkdir /Reports", "davfp mkdir -p /Archive/2024/May"}},
      {"mv", {"davfp mv /draft.txt /final.txt", "davfp mv /final.txt /Reports"}},
      {"rm", {"davfp rm /old.txt", "davfp rm -r /Archive"}},
      {"watch", {"davfp watch", "davfp --json watch --interval 30"}},
      {"mount", {"davfp mount ~/Drive", "davfp --domain work mount --cache-max 5G ~/Work"}},
      {"unmount", {"davfp unmount ~/Drive"}},
      {"status", {"davfp status ~/Drive", "davfp --domain work status"}},
      {"sync-now", {"davfp sync-now ~/Drive"}},
      {"pin", {"davfp pin ~/Drive/Reports", "davfp pin --no-wait /Reports"}},
      {"unpin", {"davfp unpin ~/Drive/Reports"}},
      {"evict", {"davfp evict ~/Drive/Videos"}},
  };
  static const std::vector<std::string> none;
  auto found = examples.find(command);
  return found == examples.end() ? none : found->second;
}

}  // namespace davfp::cli
