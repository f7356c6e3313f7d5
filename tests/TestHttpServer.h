// A real HTTP server on an ephemeral loopback port for the tests that need answers the track
// simulator never gives (odd statuses, bodies, streams, silence).
#pragma once

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "sim/ServerConnections.h"

namespace kva::test {

class TTestHttpServer {
public:
  TTestHttpServer() {
    Server.set_tcp_nodelay(true);
    Server.set_keep_alive_max_count(100000);
  }
  ~TTestHttpServer() { Stop(); }

  // Call after the routes are set.
  void Start() {
    Port = Server.bind_to_any_port("127.0.0.1");
    if (Port <= 0) throw std::runtime_error("cannot bind a test server");
    Listener = std::thread([this] { Server.listen_after_bind(); });
    while (!Server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Stop() {
    if (!Listener.joinable()) return;
    Server.stop();
    sim::ShutDownAcceptedConnections(Port);
    Listener.join();
  }
  std::string Url(const std::string& APath) const { return "http://127.0.0.1:" + std::to_string(Port) + APath; }

  httplib::Server Server;
  int Port = 0;

private:
  std::thread Listener;
};

// A socket listening on an ephemeral loopback port; APort receives the port.
inline int ListenOnLoopback(int& APort) {
  const int Socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
  ::listen(Socket, 4);
  socklen_t Length = sizeof Address;
  ::getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Length);
  APort = ntohs(Address.sin_port);
  return Socket;
}

// Answers one request with 200 "{}" and keeps the request's bytes exactly as they came, for
// checks that a parsing server would hide (such as a header value's trailing blank).
class TRawHttpServer {
public:
  TRawHttpServer() : FSocket(ListenOnLoopback(Port)) {
    FThread = std::thread([this] {
      const int Connection = ::accept(FSocket, nullptr, nullptr);
      char Buffer[4096];
      while (Request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t Read = ::read(Connection, Buffer, sizeof Buffer);
        if (Read <= 0) break;
        Request.append(Buffer, static_cast<size_t>(Read));
      }
      const char Answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
      ::write(Connection, Answer, sizeof Answer - 1);
      ::close(Connection);
    });
  }
  ~TRawHttpServer() {
    ::shutdown(FSocket, SHUT_RDWR);
    FThread.join();
    ::close(FSocket);
  }
  std::string Url(const std::string& APath) const { return "http://127.0.0.1:" + std::to_string(Port) + APath; }
  // The request's head (line and headers); read it after the request completed.
  std::string Request;
  int Port = 0;

private:
  const int FSocket;
  std::thread FThread;
};

}  // namespace kva::test
