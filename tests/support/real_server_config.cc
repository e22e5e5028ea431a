// The private configuration and command line of each kind of server.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/real_server.h"
#include "support/temp_dir.h"

namespace davfp::testing {

namespace {

void makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    throw std::runtime_error("mkdir " + path + ": " + std::strerror(errno));
  }
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The prefix as a regular expression anchored at the start of the URL path.
std::string prefixPattern(const std::string& prefix) { return "^" + prefix; }

}  // namespace

void RealServer::writeConfiguration() {
  const std::string port = std::to_string(port_);
  switch (kind_) {
    case ServerKind::apache: {
      // Stock modules and behaviour, including mod_dir's redirect of folder URLs without their "/".
      const std::string lockDir = dir_ + "/lock";
      makeDirectory(lockDir);
      if (account_ && ::chown(lockDir.c_str(), account_->uid, account_->gid) != 0) {
        throw std::runtime_error("chown " + lockDir + ": " + std::strerror(errno));
      }
      const std::string modules = "/usr/lib/apache2/modules/";
      std::string conf = "ServerRoot " + quoted(dir_) + "\n" + "PidFile " + quoted(dir_ + "/httpd.pid") +
                         "\n" + "DefaultRuntimeDir " + quoted(dir_) + "\n" + "ErrorLog " +
                         quoted(dir_ + "/error.log") + "\n" + "LogLevel warn\n" + "CustomLog " +
                         quoted(dir_ + "/access.log") + " \"%h \\\"%r\\\" %>s %b\"\n" +
                         "Listen 127.0.0.1:" + port + "\n" + "ServerName 127.0.0.1\n";
      if (account_)
        conf += "User #" + std::to_string(account_->uid) + "\nGroup #" + std::to_string(account_->gid) + "\n";
      for (const char* module : {"mpm_event", "authz_core", "mime", "alias", "dir", "dav", "dav_fs"}) {
        conf += "LoadModule " + std::string(module) + "_module " + modules + "mod_" + module + ".so\n";
      }
      conf +=
          "TypesConfig /etc/mime.types\n"
          "DavLockDB " +
          quoted(lockDir + "/DavLock") + "\n" + "Alias " + prefix_ + " " + quoted(root_ + "/") + "\n" +
          "<Directory " + quoted(root_) + ">\n  Require all granted\n</Directory>\n" + "<Location " +
          prefix_ + ">\n  Dav On\n</Location>\n";
      writeFile(dir_ + "/httpd.conf", conf);
      break;
    }
    case ServerKind::nginx: {
      std::string conf = "daemon off;\nmaster_process on;\nworker_processes 1;\n";
      if (::geteuid() == 0) conf += "user root;\n";
      conf += "pid " + quoted(dir_ + "/nginx.pid") + ";\n" + "error_log " + quoted(dir_ + "/error.log") +
              " warn;\n" +
              "load_module /usr/lib/nginx/modules/ngx_http_dav_ext_module.so;\n"
              "events { worker_connections 64; }\n"
              "http {\n"
              "  access_log " +
              quoted(dir_ + "/access.log") + ";\n";
      for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        makeDirectory(dir_ + "/" + temp);
        conf += "  " + std::string(temp) + "_temp_path " + quoted(dir_ + "/" + temp) + ";\n";
      }
      conf +=
          "  client_max_body_size 0;\n"
          // One kept-alive connection carries a long run of requests (a change pass over a thousand folders);
          // nginx's default closes it after 1,000.
          "  keepalive_requests 100000;\n"
          "  server {\n"
          "    listen 127.0.0.1:" +
          port + ";\n" + "    location " + prefix_ + " {\n" + "      alias " + quoted(root_ + "/") + ";\n" +
          "      dav_methods PUT DELETE MKCOL COPY MOVE;\n"
          "      dav_ext_methods PROPFIND OPTIONS;\n"
          "      dav_access user:rw group:rw all:r;\n"
          "    }\n"
          "  }\n"
          "}\n";
      writeFile(dir_ + "/nginx.conf", conf);
      break;
    }
    case ServerKind::lighttpd: {
      makeDirectory(dir_ + "/upload");
      std::string conf =
          "server.modules = (\"mod_alias\", \"mod_webdav\")\n"
          "server.document-root = " +
          quoted(root_) + "\n" +
          "server.bind = \"127.0.0.1\"\n"
          "server.port = " +
          port + "\n" + "server.pid-file = " + quoted(dir_ + "/lighttpd.pid") + "\n" +
          "server.errorlog = " + quoted(dir_ + "/error.log") + "\n" + "server.upload-dirs = (" +
          quoted(dir_ + "/upload") + ")\n" + "alias.url = (" + quoted(prefix_) + " => " +
          quoted(root_ + "/") + ")\n" + "$HTTP[\"url\"] =~ " + quoted(prefixPattern(prefix_)) + " {\n" +
          "  webdav.activate = \"enable\"\n"
          "  webdav.is-readonly = \"disable\"\n"
          "  webdav.sqlite-db-name = " +
          quoted(dir_ + "/webdav.db") + "\n" + "}\n";
      writeFile(dir_ + "/lighttpd.conf", conf);
      break;
    }
    case ServerKind::rclone:
      writeFile(dir_ + "/rclone.conf", "");  // an empty configuration: no remotes, nothing read from home
      break;
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
                                       "--cache-dir",      dir_ + "/cache"};
      if (prefix_ != "/") {
        args.push_back("--baseurl");
        args.push_back(prefix_.substr(0, prefix_.size() - 1));
      }
      return args;
    }
  }
  throw std::logic_error("unknown server kind");
}

}  // namespace davfp::testing
