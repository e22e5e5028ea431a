#include "platform/curl_errors.h"

namespace davfp::platform {

long urlErrorCode(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
      return urlerr::kCannotConnectToHost;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SEND_FAIL_REWIND:
      return urlerr::kNetworkConnectionLost;
    case CURLE_OPERATION_TIMEDOUT:
      return urlerr::kTimedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return urlerr::kCannotFindHost;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return urlerr::kServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
      return urlerr::kSecureConnectionFailed;
    case CURLE_URL_MALFORMAT:
      return urlerr::kBadURL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return urlerr::kUnsupportedURL;
    case CURLE_TOO_MANY_REDIRECTS:
      return urlerr::kHTTPTooManyRedirects;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return urlerr::kBadServerResponse;
    case CURLE_READ_ERROR:
      return urlerr::kCannotOpenFile;
    case CURLE_WRITE_ERROR:
      return urlerr::kCannotWriteToFile;
    case CURLE_ABORTED_BY_CALLBACK:
      return urlerr::kCancelled;
    default:
      return urlerr::kUnknown;
  }
}

Error transportError(CURLcode code, std::string message, std::string cause) {
  return Error(kURLErrorDomain, urlErrorCode(code), std::move(message), std::move(cause));
}

}  // namespace davfp::platform
