// Movies from streams, with the fake runtime and the real content manager: each of the four
// forms points the runtime at the reset URL and then at a fresh virtual path, the layer forms in
// their layer.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <set>

#include "content/virtual_names.h"
#include "core/stream.h"
#include "tests/flashhost/flashhost_test_support.h"

namespace pageturn::test {
namespace {

using Streams = FakeRuntimeTest;

void WriteMovie(TStream& stream) { stream.WriteBuffer("FWS\x08", 4); }

TEST_F(Streams, EachFormPointsTheRuntimeAtTheResetURLThenAFreshVirtualPath) {
  MakeControl();
  struct TCase {
    const char* what;
    std::function<void(TFlashPlayerControl&)> load;
    std::string call;  // what the runtime sees, with the layer first for the layer forms
  } cases[] = {
      {"copied movie",
       [](TFlashPlayerControl& c) {
         TMemoryStream movie;
         WriteMovie(movie);
         c.SetMovieFromStream(movie);
       },
       "put_Movie("},
      {"copied layer",
       [](TFlashPlayerControl& c) {
         TMemoryStream movie;
         WriteMovie(movie);
         c.LoadLayerFromStream(3, movie);
       },
       "LoadMovie(3,"},
      {"open movie",
       [](TFlashPlayerControl& c) {
         std::unique_ptr<TStream> movie = c.OpenMovieStream();
         ASSERT_NE(movie, nullptr);
         WriteMovie(*movie);
       },
       "put_Movie("},
      {"open layer",
       [](TFlashPlayerControl& c) {
         std::unique_ptr<TStream> movie = c.OpenLayerStream(5);
         ASSERT_NE(movie, nullptr);
         WriteMovie(*movie);
       },
       "LoadMovie(5,"},
  };
  std::set<std::string> paths;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    fake->calls.clear();
    c.load(*control);
    std::vector<std::string> seen;
    for (const std::string& call : fake->calls)
      if (call.rfind("put_Movie", 0) == 0 || call.rfind("LoadMovie", 0) == 0) seen.push_back(call);
    ASSERT_EQ(seen.size(), 2u) << fake->Calls();
    EXPECT_EQ(seen[0], c.call + Narrow(ResetURL) + ")");
    EXPECT_EQ(seen[1].rfind(c.call + "Z:\\FromMemory\\", 0), 0u) << seen[1];
    EXPECT_TRUE(paths.insert(seen[1].substr(c.call.size())).second) << "a fresh path each time";
    if (c.call == "put_Movie(") {
      // The cached movie is the last path written, never a name of the source.
      EXPECT_EQ("put_Movie(" + Narrow(control->Movie()) + ")", seen[1]);
    }
  }
}

}  // namespace
}  // namespace pageturn::test
