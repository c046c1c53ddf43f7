// pageturn-pack web: a book as a folder that a web server serves and a browser plays through
// Ruffle, the open-source Flash player.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pageturn {

// args are the words after "web". Prints its own usage and errors; returns the exit code
// (0 written, 1 bad book or files, 2 bad usage).
int RunWebCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Where `web` looks for Ruffle when --ruffle is not given: ruffle/ beside the tool, then where
// the setup puts it in the build tree (build/ruffle, two folders up from either build's tools).
std::vector<std::string> DefaultRufflePlaces(const std::string& toolFolder);

// The background colour a movie sets (its first SetBackgroundColor before the first frame
// ends), as 0xRRGGBB; none when the movie sets none or cannot be read that far (movies
// compressed with LZMA are not read).
std::optional<std::uint32_t> MovieBackgroundColor(std::string_view movie);

}  // namespace pageturn
