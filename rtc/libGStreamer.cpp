#include "libGStreamer.h"

#include <mutex>

#include "platform/AnsiText.h"

namespace kva {

bool GStreamerPresent() {
  static std::once_flag Once;
  static bool Present = false;
  std::call_once(Once, [] { Present = gst_init_check(nullptr, nullptr, nullptr); });
  return Present;
}

std::string GStreamerVersion() {
  if (!GStreamerPresent()) return {};
  const TGCharPtr Version(gst_version_string());
  return Version.get();
}

std::string astring(std::string_view AText) { return ToAnsi(AText); }

gulong ConnectSignal(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData,
                        GClosureNotify ADestroy) {
  return g_signal_connect_data(AInstance, ASignal, AHandler, AData, ADestroy, GConnectFlags(0));
}

gulong ConnectSignalSwapped(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData,
                                GClosureNotify ADestroy) {
  return g_signal_connect_data(AInstance, ASignal, AHandler, AData, ADestroy, G_CONNECT_SWAPPED);
}

}  // namespace kva
