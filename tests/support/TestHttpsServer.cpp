#include "support/TestHttpsServer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

#include "support/LoopbackListener.h"
#include "support/TempDir.h"

namespace quib::test {

namespace {

void addExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A self-signed certificate that is also its own CA, for the test names below and 127.0.0.1.
void makeCertificate(const std::string& certPath, const std::string& keyPath) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("site.test"),
                             -1, -1, 0);
  X509_set_issuer_name(cert, name);
  addExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(
      cert, NID_subject_alt_name,
      "DNS:site.test,DNS:other.test,DNS:a.test,DNS:www.a.test,DNS:b.test,DNS:sneaky.test,IP:127.0.0.1");
  X509_sign(cert, key, EVP_sha256());
  FILE* f = std::fopen(certPath.c_str(), "w");
  PEM_write_X509(f, cert);
  std::fclose(f);
  f = std::fopen(keyPath.c_str(), "w");
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
  X509_free(cert);
  EVP_PKEY_free(key);
}

// One certificate for every server of the process, made once: any server's caFile() trusts them all.
const std::filesystem::path& certificates() {
  static const TempDir dir;
  [[maybe_unused]] static const bool made = [] {
    makeCertificate((dir.path() / "ca.pem").string(), (dir.path() / "key.pem").string());
    return true;
  }();
  return dir.path();
}

}  // namespace

std::string TestHttpsServer::caFile() {
  return (certificates() / "ca.pem").string();
}

TestHttpsServer::TestHttpsServer() {
  ssl_.use_certificate_chain_file(caFile());
  ssl_.use_private_key_file((certificates() / "key.pem").string(), asio::ssl::context::pem);
  port_ = listenOnLoopback(acceptor_);
  acceptNext();
  thread_ = std::thread([this] { io_.run(); });
}

TestHttpsServer::~TestHttpsServer() {
  io_.stop();
  thread_.join();
}

void TestHttpsServer::route(const std::string& path, int status, std::string body, std::string location,
                            std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  routes_[path] = Response{status, std::move(body), std::move(location), delay};
}

std::vector<std::string> TestHttpsServer::connectTo(const std::vector<std::string>& hosts) const {
  std::vector<std::string> out;
  for (const auto& h : hosts) out.push_back(h + ":443:127.0.0.1:" + std::to_string(port_));
  return out;
}

std::vector<std::string> TestHttpsServer::requests() {
  std::vector<std::string> paths;
  for (const auto& head : heads()) paths.push_back(head.substr(4, head.find(' ', 4) - 4));  // after "GET "
  return paths;
}

std::vector<std::string> TestHttpsServer::heads() {
  std::lock_guard lock(mutex_);
  return heads_;
}

void TestHttpsServer::acceptNext() {
  acceptor_.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
    if (ec) return;
    auto stream = std::make_shared<asio::ssl::stream<asio::ip::tcp::socket>>(std::move(socket), ssl_);
    stream->async_handshake(asio::ssl::stream_base::server, [this, stream](const asio::error_code& e) {
      if (!e) serve(stream);
    });
    acceptNext();
  });
}

void TestHttpsServer::serve(std::shared_ptr<asio::ssl::stream<asio::ip::tcp::socket>> stream) {
  auto buffer = std::make_shared<std::string>();
  asio::async_read_until(
      *stream, asio::dynamic_buffer(*buffer), "\r\n\r\n",
      [this, stream, buffer](const asio::error_code& ec, std::size_t) {
        if (ec) return;
        Response r{404, "not found", "", {}};
        {
          std::lock_guard lock(mutex_);
          heads_.push_back(*buffer);
          if (auto it = routes_.find(buffer->substr(4, buffer->find(' ', 4) - 4)); it != routes_.end())
            r = it->second;
        }
        auto text = std::make_shared<std::string>(
            "HTTP/1.1 " + std::to_string(r.status) +
            " X\r\nContent-Length: " + std::to_string(r.body.size()) + "\r\nConnection: close\r\n" +
            (r.location.empty() ? "" : "Location: " + r.location + "\r\n") + "\r\n" + r.body);
        auto timer = std::make_shared<asio::steady_timer>(io_, r.delay);
        timer->async_wait([stream, text, timer](const asio::error_code& e) {
          if (e) return;
          asio::async_write(*stream, asio::buffer(*text),
                            [stream, text](const asio::error_code&, std::size_t) {
                              asio::error_code ignored;
                              stream->lowest_layer().shutdown(asio::socket_base::shutdown_both, ignored);
                            });
        });
      });
}

}  // namespace quib::test
