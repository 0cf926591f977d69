#include "support/TestHttpsServer.h"

#include <fstream>
#include <sstream>

namespace quib::test {

namespace {
const TempDir certificates;
}

std::string TestHttpsServer::caFile() {
  return (certificates.path() / "ca.pem").string();
}

TestHttpsServer::TestHttpsServer()
    : process_({"/usr/bin/python3", QUIB_HTTPS_SERVER, dir_.path().string(), caFile(),
                (certificates.path() / "key.pem").string()},
               ChildProcess::Output::pipe) {
  if (process_.waitFor("port "))
    if (const auto line = process_.waitFor("\n")) port_ = static_cast<std::uint16_t>(std::stoi(*line));
}

void TestHttpsServer::route(const std::string& path, int status, const std::string& body,
                            const std::string& location, std::chrono::milliseconds delay) {
  std::ostringstream name;
  for (unsigned char c : path) name << std::hex << (c >> 4) << (c & 15);
  std::ofstream(dir_.path() / name.str(), std::ios::binary)
      << status << ' ' << delay.count() << ' ' << location << '\n'
      << body;
}

std::vector<std::string> TestHttpsServer::connectTo(const std::vector<std::string>& hosts) const {
  std::vector<std::string> out;
  for (const auto& h : hosts) out.push_back(h + ":443:127.0.0.1:" + std::to_string(port_));
  return out;
}

std::vector<std::string> TestHttpsServer::heads() const {
  std::ifstream log(dir_.path() / "heads", std::ios::binary);
  std::vector<std::string> out;
  for (std::string head; std::getline(log, head, '\0');) out.push_back(head);
  return out;
}

std::vector<std::string> TestHttpsServer::requests() const {
  std::vector<std::string> paths;
  for (const auto& head : heads()) paths.push_back(head.substr(4, head.find(' ', 4) - 4));  // after "GET "
  return paths;
}

}  // namespace quib::test
