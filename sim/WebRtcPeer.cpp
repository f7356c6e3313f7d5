#include "WebRtcPeer.h"

#include <gst/sdp/sdp.h>

#include "rtc/SdpRewriting.h"

#include <memory>
#include <stdexcept>

namespace kva::sim {

namespace {

std::string LaunchDescription(const TWebRtcPeerOptions& AOptions) {
  std::string Launch = "webrtcbin name=peer bundle-policy=max-bundle ";
  if (AOptions.SendVideo) {
    Launch += "videotestsrc is-live=true pattern=ball ! video/x-raw,width=" + std::to_string(AOptions.Width) +
            ",height=" + std::to_string(AOptions.Height) + ",framerate=" + std::to_string(AOptions.Framerate) +
            "/1 ! videoconvert ! queue ! x264enc name=encoder tune=zerolatency speed-preset=ultrafast key-int-max=30 "
            "bitrate=2000 ! video/x-h264,profile=constrained-baseline ! rtph264pay config-interval=-1 pt=96 ! "
            // x264's constrained baseline says 42c0xx; the agent asks for profile-level-id 42001f
            // and webrtcbin matches the text, so the stream is announced as that.
            "capssetter caps=\"application/x-rtp,profile-level-id=(string)42001f,profile=(string)baseline\" ! "
            "application/x-rtp,media=video,encoding-name=H264,payload=96 ! peer. ";
  }
  if (AOptions.SendAudio) {
    Launch += "audiotestsrc is-live=true ! audioconvert ! audioresample ! opusenc ! rtpopuspay pt=97 ! "
              "application/x-rtp,media=audio,encoding-name=OPUS,payload=97 ! peer. ";
  }
  return Launch;
}

}  // namespace

TWebRtcPeer::TWebRtcPeer(TWebRtcPeerOptions AOptions) : FOptions(std::move(AOptions)) {
  if (!gst_is_initialized()) gst_init(nullptr, nullptr);
  GError* Error = nullptr;
  FPipeline = gst_parse_launch(LaunchDescription(FOptions).c_str(), &Error);
  if (Error) {
    const std::string Message = Error->message;
    g_error_free(Error);
    throw std::runtime_error("Test peer pipeline: " + Message);
  }
  gst_object_ref_sink(FPipeline);
  FWebrtcbin = gst_bin_get_by_name(GST_BIN(FPipeline), "peer");
}

TWebRtcPeer::~TWebRtcPeer() {
  gst_element_set_state(FPipeline, GST_STATE_NULL);
  for (GstWebRTCDataChannel* Channel : FChannels) g_object_unref(Channel);
  gst_object_unref(FWebrtcbin);
  gst_object_unref(FPipeline);
}

void TWebRtcPeer::Start() {
  g_signal_connect(FWebrtcbin, "on-ice-candidate", G_CALLBACK(+[](GstElement*, guint AIndex, gchar* ACandidate, TWebRtcPeer* ASelf) {
                     if (ASelf->FOnIceCandidate) ASelf->FOnIceCandidate(static_cast<int>(AIndex), ACandidate);
                   }),
                   this);
  g_signal_connect(FWebrtcbin, "on-data-channel", G_CALLBACK(+[](GstElement*, GstWebRTCDataChannel* AChannel, TWebRtcPeer* ASelf) {
                     ASelf->AddChannel(GST_WEBRTC_DATA_CHANNEL(g_object_ref(AChannel)), false);
                   }),
                   this);
  g_signal_connect(FWebrtcbin, "pad-added", G_CALLBACK(&TWebRtcPeer::OnPadAdded), this);
  if (FOnEncoded) {
    GstElement* Encoder = gst_bin_get_by_name(GST_BIN(FPipeline), "encoder");
    GstPad* Pad = gst_element_get_static_pad(Encoder, "src");
    gst_pad_add_probe(Pad, GST_PAD_PROBE_TYPE_BUFFER,
                      [](GstPad*, GstPadProbeInfo* AInfo, gpointer ASelf) -> GstPadProbeReturn {
                        GstBuffer* Buffer = GST_PAD_PROBE_INFO_BUFFER(AInfo);
                        GstMapInfo Map;
                        if (gst_buffer_map(Buffer, &Map, GST_MAP_READ)) {
                          static_cast<TWebRtcPeer*>(ASelf)->FOnEncoded(Map.data, Map.size);
                          gst_buffer_unmap(Buffer, &Map);
                        }
                        return GST_PAD_PROBE_OK;
                      },
                      this, nullptr);
    gst_object_unref(Pad);
    gst_object_unref(Encoder);
  }
  gst_element_set_state(FPipeline, GST_STATE_READY);
  if (!FOptions.DataChannelLabel.empty()) {
    GstWebRTCDataChannel* Channel = nullptr;
    g_signal_emit_by_name(FWebrtcbin, "create-data-channel", FOptions.DataChannelLabel.c_str(), nullptr, &Channel);
    if (Channel) AddChannel(Channel, true);
  }
  gst_element_set_state(FPipeline, GST_STATE_PLAYING);
  // webrtcbin learns what a stream is (its kind) from the stream's caps; until they arrive it
  // cannot match the stream to an offered media section. Wait for them.
  for (int Attempt = 0; Attempt < 500 && !AllStreamsHaveCaps(); ++Attempt) g_usleep(10000);
}

bool TWebRtcPeer::AllStreamsHaveCaps() const {
  bool All = true;
  GstIterator* Pads = gst_element_iterate_sink_pads(FWebrtcbin);
  GValue Item = G_VALUE_INIT;
  while (gst_iterator_next(Pads, &Item) == GST_ITERATOR_OK) {
    if (!gst_pad_has_current_caps(GST_PAD(g_value_get_object(&Item)))) All = false;
    g_value_reset(&Item);
  }
  g_value_unset(&Item);
  gst_iterator_free(Pads);
  return All;
}

void TWebRtcPeer::OnPadAdded(GstElement*, GstPad* APad, TWebRtcPeer* ASelf) {
  if (GST_PAD_DIRECTION(APad) != GST_PAD_SRC) return;
  // Whatever the other side sends is counted and dropped.
  GstElement* Sink = gst_element_factory_make("fakesink", nullptr);
  g_object_set(Sink, "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(ASelf->FPipeline), Sink);
  gst_element_sync_state_with_parent(Sink);
  GstPad* SinkPad = gst_element_get_static_pad(Sink, "sink");
  gst_pad_link(APad, SinkPad);
  gst_pad_add_probe(SinkPad, GST_PAD_PROBE_TYPE_BUFFER,
                    [](GstPad*, GstPadProbeInfo*, gpointer ASelf) -> GstPadProbeReturn {
                      ++static_cast<TWebRtcPeer*>(ASelf)->FMediaBuffers;
                      return GST_PAD_PROBE_OK;
                    },
                    ASelf, nullptr);
  gst_object_unref(SinkPad);
}

void TWebRtcPeer::AddChannel(GstWebRTCDataChannel* AChannel, bool AOwn) {
  g_signal_connect(AChannel, "on-message-string", G_CALLBACK(+[](GstWebRTCDataChannel*, gchar* AText, TWebRtcPeer* ASelf) {
                     std::lock_guard Lock(ASelf->FLock);
                     ASelf->FTexts.emplace_back(AText ? AText : "");
                   }),
                   this);
  g_signal_connect(AChannel, "on-message-data", G_CALLBACK(+[](GstWebRTCDataChannel*, GBytes* ABytes, TWebRtcPeer* ASelf) {
                     std::lock_guard Lock(ASelf->FLock);
                     ASelf->FBinary.push_back(ABytes ? g_bytes_get_size(ABytes) : 0);
                   }),
                   this);
  std::lock_guard Lock(FLock);
  if (AOwn) {
    FChannels.insert(FChannels.begin(), AChannel);
  } else {
    FChannels.push_back(AChannel);
  }
}

std::string TWebRtcPeer::CreateDescription(const char* ASignal, const char* AKind) {
  GstPromise* Promise = gst_promise_new();
  g_signal_emit_by_name(FWebrtcbin, ASignal, nullptr, Promise);
  gst_promise_wait(Promise);
  GstWebRTCSessionDescription* Description = nullptr;
  if (const GstStructure* Reply = gst_promise_get_reply(Promise)) {
    gst_structure_get(Reply, AKind, GST_TYPE_WEBRTC_SESSION_DESCRIPTION, &Description, nullptr);
  }
  gst_promise_unref(Promise);
  if (!Description) throw std::runtime_error(std::string("Test peer: no ") + AKind);
  gchar* Text = gst_sdp_message_as_text(Description->sdp);
  // Offered as the agent offers: bundled sections with a real port and no "bundle-only".
  const std::string Sdp = RewriteLocalDescription(Text);
  g_free(Text);
  const GstWebRTCSDPType Type = Description->type;
  gst_webrtc_session_description_free(Description);
  ApplyDescription("set-local-description", Type, Sdp);
  return Sdp;
}

std::string TWebRtcPeer::CreateOffer() { return CreateDescription("create-offer", "offer"); }
std::string TWebRtcPeer::CreateAnswer() { return CreateDescription("create-answer", "answer"); }

void TWebRtcPeer::SetRemoteDescription(const std::string& AType, const std::string& ASdp) {
  ApplyDescription("set-remote-description", AType == "offer" ? GST_WEBRTC_SDP_TYPE_OFFER : GST_WEBRTC_SDP_TYPE_ANSWER,
                   ASdp);
}

void TWebRtcPeer::ApplyDescription(const char* ASignal, GstWebRTCSDPType AType, const std::string& ASdp) {
  GstSDPMessage* Message = nullptr;
  gst_sdp_message_new(&Message);
  gst_sdp_message_parse_buffer(reinterpret_cast<const guint8*>(ASdp.data()), static_cast<guint>(ASdp.size()), Message);
  GstWebRTCSessionDescription* Description = gst_webrtc_session_description_new(AType, Message);
  GstPromise* Promise = gst_promise_new();
  g_signal_emit_by_name(FWebrtcbin, ASignal, Description, Promise);
  gst_promise_wait(Promise);
  gst_promise_unref(Promise);
  gst_webrtc_session_description_free(Description);
}

void TWebRtcPeer::AddIceCandidate(int AMLineIndex, const std::string& ACandidate) {
  g_signal_emit_by_name(FWebrtcbin, "add-ice-candidate", static_cast<guint>(AMLineIndex), ACandidate.c_str());
}

std::vector<std::string> TWebRtcPeer::ReceivedTexts() const {
  std::lock_guard Lock(FLock);
  return FTexts;
}

std::vector<size_t> TWebRtcPeer::ReceivedBinary() const {
  std::lock_guard Lock(FLock);
  return FBinary;
}

bool TWebRtcPeer::ChannelOpen() const {
  std::lock_guard Lock(FLock);
  if (FChannels.empty()) return false;
  GstWebRTCDataChannelState State;
  g_object_get(FChannels.front(), "ready-state", &State, nullptr);
  return State == GST_WEBRTC_DATA_CHANNEL_STATE_OPEN;
}

bool TWebRtcPeer::SendText(const std::string& AText) {
  std::lock_guard Lock(FLock);
  if (FChannels.empty()) return false;
  g_signal_emit_by_name(FChannels.front(), "send-string", AText.c_str());
  return true;
}

bool TWebRtcPeer::SendBinary(const std::vector<uint8_t>& ABytes) {
  std::lock_guard Lock(FLock);
  if (FChannels.empty()) return false;
  GBytes* Bytes = g_bytes_new(ABytes.data(), ABytes.size());
  g_signal_emit_by_name(FChannels.front(), "send-data", Bytes);
  g_bytes_unref(Bytes);
  return true;
}

void TWebRtcPeer::CloseRemoteChannels() {
  std::lock_guard Lock(FLock);
  for (size_t I = FOptions.DataChannelLabel.empty() ? 0 : 1; I < FChannels.size(); ++I) {
    g_signal_emit_by_name(FChannels[I], "close");
  }
}

uint32_t TWebRtcPeer::PeerConnectionState() const {
  guint State = 0;
  g_object_get(FWebrtcbin, "connection-state", &State, nullptr);
  return State;
}

}  // namespace kva::sim
