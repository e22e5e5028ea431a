// The private configuration and command line of each kind of server.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/host_process.h"
#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::testing {

namespace {

void makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    throw std::runtime_error("mkdir " + path + ": " + std::strerror(errno));
  }
}

// The text with each "{NAME}" replaced by its value.
std::string filled(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
  for (const auto& [name, value] : values) {
    for (size_t at; (at = text.find("{" + name + "}")) != std::string::npos;)
      text.replace(at, name.size() + 2, value);
  }
  return text;
}

// Stock modules and behaviour, including mod_dir's redirect of folder URLs without their "/".
constexpr const char* kApache = R"(ServerRoot "{DIR}"
PidFile "{DIR}/httpd.pid"
DefaultRuntimeDir "{DIR}"
ErrorLog "{DIR}/error.log"
LogLevel warn
Listen 127.0.0.1:{PORT}
ServerName 127.0.0.1
{USER}
LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
LoadModule mime_module /usr/lib/apache2/modules/mod_mime.so
LoadModule alias_module /usr/lib/apache2/modules/mod_alias.so
LoadModule dir_module /usr/lib/apache2/modules/mod_dir.so
LoadModule dav_module /usr/lib/apache2/modules/mod_dav.so
LoadModule dav_fs_module /usr/lib/apache2/modules/mod_dav_fs.so
TypesConfig /etc/mime.types
DavLockDB "{DIR}/lock/DavLock"
Alias {PREFIX} "{ROOT}/"
<Directory "{ROOT}">
  Require all granted
</Directory>
<Location {PREFIX}>
  Dav On
</Location>
)";

// keepalive_requests: one kept-alive connection carries a long run of requests (a change pass over a thousand
// folders); nginx's default closes it after 1,000.
// Added to kApache for Basic authentication: a second section for the same location, merged with the first.
constexpr const char* kApacheBasicAuth =
    R"(LoadModule auth_basic_module /usr/lib/apache2/modules/mod_auth_basic.so
LoadModule authn_core_module /usr/lib/apache2/modules/mod_authn_core.so
LoadModule authn_file_module /usr/lib/apache2/modules/mod_authn_file.so
LoadModule authz_user_module /usr/lib/apache2/modules/mod_authz_user.so
<Location {PREFIX}>
  AuthType Basic
  AuthName "davfp test"
  AuthBasicProvider file
  AuthUserFile "{DIR}/htpasswd"
  Require valid-user
</Location>
)";

constexpr const char* kNginx = R"(daemon off;
master_process on;
worker_processes 1;
{USER}
pid "{DIR}/nginx.pid";
error_log "{DIR}/error.log" warn;
load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;
events { worker_connections 64; }
http {
  access_log "{DIR}/access.log";
  client_body_temp_path "{DIR}/temp";
  proxy_temp_path "{DIR}/temp";
  fastcgi_temp_path "{DIR}/temp";
  uwsgi_temp_path "{DIR}/temp";
  scgi_temp_path "{DIR}/temp";
  client_max_body_size 0;
  keepalive_requests 100000;
  server {
    listen 127.0.0.1:{PORT};
    location {PREFIX} {
      alias "{ROOT}/";
      dav_methods PUT DELETE MKCOL COPY MOVE;
      dav_ext_methods PROPFIND OPTIONS;
      dav_access user:rw group:rw all:r;
    }
  }
}
)";

constexpr const char* kLighttpd = R"(server.modules = ("mod_alias", "mod_webdav")
server.document-root = "{ROOT}"
server.bind = "127.0.0.1"
server.port = {PORT}
server.pid-file = "{DIR}/lighttpd.pid"
server.errorlog = "{DIR}/error.log"
server.upload-dirs = ("{DIR}/temp")
alias.url = ("{PREFIX}" => "{ROOT}/")
$HTTP["url"] =~ "^{PREFIX}" {
  webdav.activate = "enable"
  webdav.is-readonly = "disable"
  webdav.sqlite-db-name = "{DIR}/webdav.db"
}
)";

}  // namespace

void RealServer::writePasswordFile() {
  const std::string file = dir_ + "/htpasswd";
  ProcessResult r =
      runProcess({"/usr/bin/htpasswd", "-c", "-b", "-m", file, basicAuth_->user, basicAuth_->password}, {});
  if (r.status != 0) throw std::runtime_error("htpasswd failed: " + r.out + r.err);
  ::chmod(file.c_str(), 0644);  // the server's own user reads it
}

void RealServer::writeConfiguration() {
  makeDirectory(dir_ + "/temp");
  makeDirectory(dir_ + "/lock");
  if (account_ && ::chown((dir_ + "/lock").c_str(), account_->uid, account_->gid) != 0) {
    throw std::runtime_error("chown " + dir_ + "/lock: " + std::strerror(errno));
  }
  std::string user;
  if (kind_ == ServerKind::apache && account_) {
    user = "User #" + std::to_string(account_->uid) + "\nGroup #" + std::to_string(account_->gid);
  } else if (kind_ == ServerKind::nginx && ::geteuid() == 0) {
    user = "user root;";
  }
  const std::vector<std::pair<std::string, std::string>> values = {
      {"DIR", dir_}, {"ROOT", root_}, {"PREFIX", kPrefix}, {"PORT", std::to_string(port_)}, {"USER", user}};
  switch (kind_) {
    case ServerKind::apache:
      if (basicAuth_) writePasswordFile();
      return writeFile(dir_ + "/httpd.conf",
                       filled(std::string(kApache) + (basicAuth_ ? kApacheBasicAuth : ""), values));
    case ServerKind::nginx:
      return writeFile(dir_ + "/nginx.conf", filled(kNginx, values));
    case ServerKind::lighttpd:
      return writeFile(dir_ + "/lighttpd.conf", filled(kLighttpd, values));
    case ServerKind::rclone:
      return writeFile(dir_ + "/rclone.conf",
                       "");  // an empty configuration: no remotes, nothing read from home
  }
}

std::vector<std::string> RealServer::commandLine() const {
  switch (kind_) {
    case ServerKind::apache:
      return {"/usr/sbin/apache2", "-f", dir_ + "/httpd.conf", "-DFOREGROUND"};
    case ServerKind::nginx:
      // -e: the error log before the configuration is read, instead of the system's.
      return {"/usr/sbin/nginx", "-c", dir_ + "/nginx.conf", "-p", dir_, "-e", dir_ + "/error.log"};
    case ServerKind::lighttpd:
      return {"/usr/sbin/lighttpd", "-D", "-f", dir_ + "/lighttpd.conf"};
    case ServerKind::rclone: {
      // Without --dir-cache-time 0s, files written into root behind its back stay invisible for minutes.
      std::vector<std::string> args = {"/usr/bin/rclone",  "serve",
                                       "webdav",           root_,
                                       "--addr",           "127.0.0.1:" + std::to_string(port_),
                                       "--dir-cache-time", "0s",
                                       "--config",         dir_ + "/rclone.conf",
                                       "--cache-dir",      dir_ + "/cache",
                                       "--baseurl",        "/dav"};
      if (followLinks_) args.push_back("--copy-links");
      return args;
    }
  }
  throw std::logic_error("unknown server kind");
}

}  // namespace davfp::testing
