// The private configuration and command line of each kind of server.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::testing {

namespace {

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
      {AUTH}
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

// Each kind's name, configuration (the file "{DIR}/server.conf") and command line, in the order of ServerKind,
// with "{NAME}" standing for a value of the start.
struct Recipe {
  const char* name;
  const char* configuration;
  std::vector<std::string> command;
};

const Recipe& recipeOf(ServerKind kind) {
  static const Recipe kRecipes[] = {
      {"apache", kApache, {"/usr/sbin/apache2", "-f", "{DIR}/server.conf", "-DFOREGROUND"}},
      // -e: the error log before the configuration is read, instead of the system's.
      {"nginx", kNginx, {"/usr/sbin/nginx", "-c", "{DIR}/server.conf", "-p", "{DIR}", "-e", "{DIR}/error.log"}},
      {"lighttpd", kLighttpd, {"/usr/sbin/lighttpd", "-D", "-f", "{DIR}/server.conf"}},
      // An empty configuration: no remotes, nothing read from home. Without --dir-cache-time 0s, files written
      // into root behind its back stay invisible for minutes.
      {"rclone", "",
       {"/usr/bin/rclone", "serve", "webdav", "{ROOT}", "--addr", "127.0.0.1:{PORT}", "--dir-cache-time", "0s",
        "--config", "{DIR}/server.conf", "--cache-dir", "{DIR}/cache", "--baseurl", "/dav"}},
  };
  return kRecipes[static_cast<int>(kind)];
}

}  // namespace

std::string serverName(ServerKind kind) { return recipeOf(kind).name; }

std::vector<std::string> RealServer::configure() {
  std::filesystem::create_directories(dir_ + "/temp");
  std::filesystem::create_directories(dir_ + "/lock");
  if (account_ && ::chown((dir_ + "/lock").c_str(), account_->uid, account_->gid) != 0) {
    throw std::runtime_error("chown " + dir_ + "/lock: " + std::strerror(errno));
  }
  std::string user, auth;
  if (kind_ == ServerKind::apache && account_) {
    user = "User #" + std::to_string(account_->uid) + "\nGroup #" + std::to_string(account_->gid);
  } else if (kind_ == ServerKind::nginx && ::geteuid() == 0) {
    user = "user root;";
  }
  if (basicAuth_) {
    // nginx takes a password marked {PLAIN} as it is written.
    writeFile(dir_ + "/htpasswd", basicAuth_->user + ":{PLAIN}" + basicAuth_->password + "\n");
    auth = "auth_basic \"davfp test\"; auth_basic_user_file \"" + dir_ + "/htpasswd\";";
  }
  const std::vector<std::pair<std::string, std::string>> values = {
      {"DIR", dir_},   {"ROOT", root_}, {"PREFIX", kPrefix}, {"PORT", std::to_string(port_)},
      {"USER", user}, {"AUTH", auth}};
  const Recipe& recipe = recipeOf(kind_);
  writeFile(dir_ + "/server.conf", filled(recipe.configuration, values));
  std::vector<std::string> command;
  for (const auto& arg : recipe.command) command.push_back(filled(arg, values));
  if (followLinks_) command.push_back("--copy-links");
  return command;
}

}  // namespace davfp::testing
