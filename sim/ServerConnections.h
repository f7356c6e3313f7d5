// Ends the connections that a server in this process has accepted on a port. cpp-httplib
// 0.11's Server::stop() closes only the listening socket and then waits for every kept-alive
// connection to idle out (its keep-alive timeout), so a server whose clients keep connections
// open would take that long to stop; shutting the accepted sockets down ends the wait at once.
#pragma once

namespace kva::sim {

void ShutDownAcceptedConnections(int APort);

}  // namespace kva::sim
