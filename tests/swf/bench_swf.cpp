// Prints how fast the stand-in reads movies: a FWS and a CWS book-sized timeline
// (400 frames, each with a DoAction and a skipped 20 KiB bitmap tag).
#include <chrono>
#include <cstdio>

#include "swf/swf_reader.h"
#include "swf_builder.h"

using namespace swftest;

int main() {
  SwfBuilder b;
  b.FrameCount(400).FileAttributes().Background(255, 255, 255);
  for (int i = 0; i < 400; ++i) {
    b.DoAction(Cat({GetUrl("files/large/" + std::to_string(i + 1) + ".swf", "_level1"), kStop}));
    b.Tag(21, Bytes(20 * 1024, uint8_t(i)), true);
    b.ShowFrame();
  }
  b.End();
  for (bool compressed : {false, true}) {
    Bytes file = b.Build(compressed);
    const int rounds = 20;
    auto start = std::chrono::steady_clock::now();
    size_t frames = 0;
    for (int i = 0; i < rounds; ++i) frames += swf::ReadMovie(file).frames.size();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double mb = double(swf::ReadHeader(file).fileLength) * rounds / (1024.0 * 1024.0);
    std::printf("%s: %zu bytes on disk, %.1f MiB/s uncompressed, %.2f ms per movie (%zu frames)\n",
                compressed ? "CWS" : "FWS", file.size(), mb / seconds, seconds * 1000 / rounds,
                frames / rounds);
  }
}
