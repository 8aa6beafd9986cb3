#pragma once
// Follows the Chroma stand-in's stamps file, where every emitted colour is
// appended as a line "<CLOCK_MONOTONIC ns> <rrggbb>", and answers when a
// colour was last emitted before a given moment: the event a frame carries.
// Reading the file is stamp_file_posix.cpp (stamp_file_win32.cpp on Windows).
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "tools/lampsim/lamp_track.h"

namespace halvix::lampsim {

class StampFollower {
 public:
  explicit StampFollower(std::string path) : path_(std::move(path)) {}
  ~StampFollower();
  StampFollower(const StampFollower&) = delete;
  StampFollower& operator=(const StampFollower&) = delete;

  // Reads what was appended since the last call. A file that does not exist
  // yet is waited for; one that shrank or was replaced is read from its start.
  void poll();
  // Takes text as if appended to the file; a line is used once it is whole.
  void feed(std::string_view text);

  // The latest stamp of `colour` at or before `atNs`.
  std::optional<std::int64_t> eventTime(Rgb colour, std::int64_t atNs) const;
  std::uint64_t badLines() const { return badLines_; }

  // Only the newest stamps are kept: enough for a colour a tick for minutes.
  static constexpr std::size_t kKept = 4096;

 private:
  struct Stamp {
    std::int64_t ns;
    Rgb colour;
  };
  void closeFile();
  void takeLine(std::string_view line);

  // The file followed: its open descriptor, -1 when there is none (on
  // Windows, which opens it for each look only, 0 while one is followed),
  // and what tells a replacement apart (inode, file index).
  std::string path_;
  std::intptr_t file_ = -1;
  std::uint64_t identity_ = 0;
  std::int64_t offset_ = 0;
  std::string partial_;
  std::deque<Stamp> stamps_;
  std::uint64_t badLines_ = 0;
};

}  // namespace halvix::lampsim
