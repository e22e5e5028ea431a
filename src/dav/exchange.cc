#include "dav/exchange.h"

#include <string_view>

#include "dav/request.h"

namespace davfp {

platform::HttpResponse exchange(platform::UrlSession& session, const platform::HttpRequest& request,
                                bool checked, std::string* body) {
  platform::HttpResponse head;
  size_t read = 0;
  try {
    session.stream(
        request,
        [&](const platform::HttpResponse& response) {
          head = response;
          if (checked) check(response);
        },
        [&](std::string_view bytes) {
          std::string_view kept = bytes.substr(0, kMaxAnswerBody - read);
          if (body) body->append(kept);
          read += kept.size();
          if (read == kMaxAnswerBody) throw BodyEnded();
        });
  } catch (const BodyEnded&) {
    // The answer is what was read: its head, and the part of the body that anyone could need.
  }
  return head;
}

}  // namespace davfp
