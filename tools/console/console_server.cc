#include "console_server.h"

#include <httplib.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "console_page.h"
#include "status_render.h"

namespace rondel {
namespace tools {

namespace {

// Every answer is of the moment: a page must never be shown a cached one.
void NoStore(httplib::Response& response) {
  response.set_header("Cache-Control", "no-store");
}

}  // namespace

ConsoleServer::ConsoleServer(CachedStatus* status, const LiveDatagrams* live)
    : server_(std::make_unique<httplib::Server>()) {
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    NoStore(response);
    response.set_content(kConsolePage, "text/html; charset=utf-8");
  });
  server_->Get("/status.json",
               [status](const httplib::Request&, httplib::Response& response) {
                 NoStore(response);
                 response.set_content(status->Get()->json, "application/json");
               });
  server_->Get("/live.json", [status, live](const httplib::Request& request,
                                            httplib::Response& response) {
    uint64_t after = 0;
    const std::string text = request.get_param_value("after");
    if (!text.empty() && text.find_first_not_of("0123456789") == text.npos &&
        text.size() < 20) {
      after = std::stoull(text);
    }
    const auto now = status->Get();
    nlohmann::json live_json = live->Json(after, std::time(nullptr));
    live_json["since"] = UtcTime(now->since);
    live_json["since_change"] = now->since_change;
    live_json["last_success"] = now->last_success
                                    ? nlohmann::json(UtcTime(now->last_success))
                                    : nlohmann::json(nullptr);
    NoStore(response);
    response.set_content(
        live_json.dump(-1, ' ', false,
                       nlohmann::json::error_handler_t::replace),
        "application/json");
  });
}

ConsoleServer::~ConsoleServer() = default;

bool ConsoleServer::Bind(const std::string& host, int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port(host);
    return port_ > 0;
  }
  port_ = port;
  return server_->bind_to_port(host, port);
}

void ConsoleServer::Run() { server_->listen_after_bind(); }

void ConsoleServer::Stop() { server_->stop(); }

}  // namespace tools
}  // namespace rondel
