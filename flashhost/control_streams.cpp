#include "content/content_manager.h"
#include "core/error.h"
#include "flashhost/control_link.h"
#include "flashhost/flash_player_control.h"

namespace pageturn {

// ---- movies from streams

namespace {
TContentManager& Manager() {
  if (!ContentManager) throw Error("No content manager");
  return *ContentManager;
}
}  // namespace

void TFlashPlayerControl::LoadLayerFromStream(int layer, TStream& stream) {
  Manager().LoadMovieFromStream(link_.Get(), true, stream, layer);
}
void TFlashPlayerControl::SetMovieFromStream(TStream& stream) {
  Manager().LoadMovieFromStream(link_.Get(), false, stream, -1);
}
std::unique_ptr<TStream> TFlashPlayerControl::OpenLayerStream(int layer) {
  return Manager().RegisterMovieStream(link_.Get(), true, layer);
}
std::unique_ptr<TStream> TFlashPlayerControl::OpenMovieStream() {
  return Manager().RegisterMovieStream(link_.Get(), false, -1);
}

}  // namespace pageturn
