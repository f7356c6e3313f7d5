#include "SdpRewriting.h"

#include <string_view>

namespace kva {

namespace {

void ReplaceAll(std::string& AText, std::string_view AFrom, std::string_view ATo) {
  for (size_t At = AText.find(AFrom); At != std::string::npos; At = AText.find(AFrom, At + ATo.size())) {
    AText.replace(At, AFrom.size(), ATo);
  }
}

}  // namespace

std::string RewriteLocalDescription(std::string ASdp) {
  ReplaceAll(ASdp, "m=video 0 ", "m=video 9 ");
  ReplaceAll(ASdp, "m=application 0 ", "m=application 9 ");
  ReplaceAll(ASdp, "a=bundle-only\r\n", "");
  return ASdp;
}

}  // namespace kva
