#pragma once
// One call to a desktop portal method that answers later, through the Response signal of a Request
// object. The Response is subscribed to before the call goes out, on the path the portal will use
// (predicted from our bus name and the handle_token), so a quick answer is never missed. Runs on
// the thread whose thread-default GMainContext is current when send() is called (the main thread).
#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <string>

namespace quib {

class PortalRequest {
 public:
  // `response` is the portal's code (0 done, 1 the user cancelled, 2 ended otherwise); `results`
  // is the a{sv} of the answer, borrowed for the call.
  using Answer = std::function<void(std::uint32_t response, GVariant* results)>;
  // The method call itself failed (no portal, no such method, a bad argument).
  using Failure = std::function<void(const GError* error)>;

  static constexpr const char* kService = "org.freedesktop.portal.Desktop";
  static constexpr const char* kObject = "/org/freedesktop/portal/desktop";

  explicit PortalRequest(GDBusConnection* bus);
  // Drops the pending answer: neither callback runs after this.
  ~PortalRequest();
  PortalRequest(const PortalRequest&) = delete;
  PortalRequest& operator=(const PortalRequest&) = delete;

  // A handle_token not used before by this process.
  static std::string newToken();
  // The Request path the portal makes for `token` on `bus`.
  static std::string requestPath(GDBusConnection* bus, const std::string& token);

  // Calls `method` with `params` (floating; its options must carry `token` as handle_token). Each
  // callback may destroy this object.
  void send(const std::string& token, const char* interface, const char* method, GVariant* params,
            Answer answer, Failure failure);

 private:
  void subscribe(const std::string& path);
  void unsubscribe();

  GDBusConnection* bus_;
  GCancellable* cancellable_;
  guint subscription_ = 0;
  std::string path_;
  Answer answer_;
  Failure failure_;
};

}  // namespace quib
