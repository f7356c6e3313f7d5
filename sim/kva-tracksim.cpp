// kva-tracksim: the local track simulator.
//
//   kva-tracksim [--port N] [--account EMAIL:PASSWORD]... [--token-lifetime SECONDS]
//                [--rotate-refresh-tokens] [--api-key KEY] [--queue-keep-alive SECONDS]
//                [--assign-after MILLISECONDS] [--car-offers] [--stream-keep-alive SECONDS]
//
// Port 0 picks a free port. The port is printed as "kva-tracksim listening on
// http://127.0.0.1:<port>" once the server accepts connections. Stops on SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>

#include "sim/TrackSimulator.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void RequestStop(int) { gStop = 1; }

[[noreturn]] void Usage(const char* AProgram) {
  std::fprintf(stderr,
               "usage: %s [--port N] [--account EMAIL:PASSWORD]... [--token-lifetime SECONDS] "
               "[--rotate-refresh-tokens] [--api-key KEY] [--queue-keep-alive SECONDS] "
               "[--assign-after MILLISECONDS] [--car-offers] [--stream-keep-alive SECONDS]\n",
               AProgram);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kva::sim;
  TTrackSimulatorOptions Options;
  Options.ApiKey = KVA_DEFAULT_WEB_API_KEY;
  int Port = KVA_DEFAULT_SIM_PORT;
  for (int I = 1; I < argc; ++I) {
    const std::string Argument = argv[I];
    const auto Value = [&]() -> std::string {
      if (I + 1 >= argc) Usage(argv[0]);
      return argv[++I];
    };
    if (Argument == "--port") {
      Port = std::atoi(Value().c_str());
    } else if (Argument == "--account") {
      const std::string Account = Value();
      const size_t Colon = Account.find(':');
      if (Colon == std::string::npos) Usage(argv[0]);
      Options.Accounts.emplace_back(Account.substr(0, Colon), Account.substr(Colon + 1));
    } else if (Argument == "--token-lifetime") {
      Options.TokenLifetimeSeconds = std::atoi(Value().c_str());
    } else if (Argument == "--rotate-refresh-tokens") {
      Options.RotateRefreshTokens = true;
    } else if (Argument == "--api-key") {
      Options.ApiKey = Value();
    } else if (Argument == "--queue-keep-alive") {
      Options.Queue.KeepAliveSeconds = std::atoi(Value().c_str());
    } else if (Argument == "--assign-after") {
      Options.Queue.AssignDelay = std::chrono::milliseconds(std::atoi(Value().c_str()));
    } else if (Argument == "--car-offers") {
      Options.Queue.CreateOffer = false;
    } else if (Argument == "--stream-keep-alive") {
      Options.StreamKeepAliveSeconds = std::atoi(Value().c_str());
    } else {
      Usage(argv[0]);
    }
  }

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  TTrackSimulator Simulator(Options);
  try {
    Simulator.Start(Port);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  std::printf("kva-tracksim listening on %s (demo account %s / %s)\n", Simulator.BaseUrl().c_str(), DemoEmail,
              DemoPassword);
  std::fflush(stdout);
  while (!gStop) pause();
  Simulator.Stop();
  return 0;
}
