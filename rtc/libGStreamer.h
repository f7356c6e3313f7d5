// Small GStreamer helpers: the library's one-time initialisation, one owner per kind of
// GStreamer object, the 8-bit text form, and signal connection with a destroy function.
#pragma once

#include <gst/gst.h>
#include <gst/sdp/sdp.h>
#define GST_USE_UNSTABLE_API
#include <gst/webrtc/webrtc.h>

#include <memory>
#include <string>
#include <string_view>

namespace kva {

// Initialises GStreamer once for the process; true when it is present (initialised).
bool GStreamerPresent();
// GStreamer's version text, or empty when it is absent.
std::string GStreamerVersion();

// Text handed to the library, in its 8-bit form.
std::string astring(std::string_view AText);

// Connects AHandler to ASignal of AInstance with AData and its destroy function; plain or
// swapped (the handler gets the data first). The connection id, 0 on failure. (GLib's own
// g_signal_connect macros take no destroy function.)
gulong ConnectSignal(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData,
                        GClosureNotify ADestroy);
gulong ConnectSignalSwapped(gpointer AInstance, const char* ASignal, GCallback AHandler, gpointer AData,
                                GClosureNotify ADestroy);

struct TGstObjectUnref {
  void operator()(gpointer AObject) const { if (AObject) gst_object_unref(AObject); }
};
struct TGstCapsUnref {
  void operator()(GstCaps* ACaps) const { if (ACaps) gst_caps_unref(ACaps); }
};
struct TGstSampleUnref {
  void operator()(GstSample* ASample) const { if (ASample) gst_sample_unref(ASample); }
};
struct TGstPromiseUnref {
  void operator()(GstPromise* APromise) const { if (APromise) gst_promise_unref(APromise); }
};
struct TGstStructureFree {
  void operator()(GstStructure* AStructure) const { if (AStructure) gst_structure_free(AStructure); }
};
struct TGstSdpMessageFree {
  void operator()(GstSDPMessage* AMessage) const { if (AMessage) gst_sdp_message_free(AMessage); }
};
struct TGstSessionDescriptionFree {
  void operator()(GstWebRTCSessionDescription* ADescription) const {
    if (ADescription) gst_webrtc_session_description_free(ADescription);
  }
};
struct TGErrorFree {
  void operator()(GError* AError) const { if (AError) g_error_free(AError); }
};
struct TGFree {
  void operator()(gpointer AMemory) const { g_free(AMemory); }
};

using TGstElementPtr = std::unique_ptr<GstElement, TGstObjectUnref>;
using TGstPadPtr = std::unique_ptr<GstPad, TGstObjectUnref>;
using TGstCapsPtr = std::unique_ptr<GstCaps, TGstCapsUnref>;
using TGstSamplePtr = std::unique_ptr<GstSample, TGstSampleUnref>;
using TGstPromisePtr = std::unique_ptr<GstPromise, TGstPromiseUnref>;
using TGstSdpMessagePtr = std::unique_ptr<GstSDPMessage, TGstSdpMessageFree>;
using TGstSessionDescriptionPtr = std::unique_ptr<GstWebRTCSessionDescription, TGstSessionDescriptionFree>;
using TGErrorPtr = std::unique_ptr<GError, TGErrorFree>;
using TGCharPtr = std::unique_ptr<gchar, TGFree>;

}  // namespace kva
