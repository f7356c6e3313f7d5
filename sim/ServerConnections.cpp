#include "ServerConnections.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>

namespace kva::sim {

namespace {

int LocalPort(int AHandle, bool& AConnected) {
  sockaddr_storage Address{};
  socklen_t Length = sizeof Address;
  if (::getsockname(AHandle, reinterpret_cast<sockaddr*>(&Address), &Length) != 0) return -1;
  sockaddr_storage Peer{};
  socklen_t PeerLength = sizeof Peer;
  AConnected = ::getpeername(AHandle, reinterpret_cast<sockaddr*>(&Peer), &PeerLength) == 0;
  if (Address.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&Address)->sin_port);
  if (Address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&Address)->sin6_port);
  return -1;
}

}  // namespace

void ShutDownAcceptedConnections(int APort) {
  std::error_code Error;
  for (const auto& Entry : std::filesystem::directory_iterator("/proc/self/fd", Error)) {
    const int Handle = std::atoi(Entry.path().filename().c_str());
    bool Connected = false;
    // Accepted sockets carry the server's port as their local port; the clients' own sockets
    // in this process have it as their peer's port and are left alone.
    if (LocalPort(Handle, Connected) == APort && Connected) ::shutdown(Handle, SHUT_RDWR);
  }
}

}  // namespace kva::sim
