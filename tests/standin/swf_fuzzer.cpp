// Any byte string goes through the reader and, when it reads, a few timeline steps with their
// display lists, and the hit test of every placed shape: the only acceptable outcomes are a
// movie or an SwfError.
#include <cstddef>
#include <cstdint>
#include <variant>

#include "stage/geometry.h"
#include "swf/swf_reader.h"
#include "stage/timeline.h"

namespace {

class NullHost : public standin::swf::TimelineHost {
 public:
  void FsCommand(const std::string&, const std::string&) override {}
  void LoadMovie(int, const std::string&) override {}
  void GetUrl(const std::string&, const std::string&) override {}
  std::string ExternalCall(const std::string&) override { return "<string>x</string>"; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    standin::swf::Movie movie = standin::swf::ReadMovie({data, size});
    NullHost host;
    standin::swf::Timeline timeline(std::move(movie), host);
    timeline.Start();
    for (int i = 0; i < 8; ++i) {
      timeline.Tick();
      for (const auto& [depth, placed] : timeline.DisplayList()) {
        const auto* tag = timeline.Character(placed.characterId);
        if (const auto* shape = tag ? std::get_if<::swf::DefineShape>(tag) : nullptr) {
          standin::swf::Affine inverse;
          if (standin::swf::Affine::From(placed.matrix).Invert(inverse))
            standin::swf::Contains(standin::swf::Flatten(*shape), inverse.Apply({100, 100}));
        }
      }
    }
  } catch (const standin::swf::SwfError&) {
  }
  return 0;
}
