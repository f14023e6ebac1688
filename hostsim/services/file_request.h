// "File Request 2": the host's file requester, answered from a queue that a
// test or the command line fills. An empty queue answers as a user who
// cancels.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "host/lw_filereq.h"

namespace hostsim {

class FileRequester {
public:
  FileRequester();
  ~FileRequester();
  FileRequester(const FileRequester &) = delete;
  FileRequester &operator=(const FileRequester &) = delete;

  LWFileActivateFunc func() const;
  void makeCurrent();

  void answer(const std::string &path) { queue_.emplace_back(path); }
  void cancel() { queue_.emplace_back(std::nullopt); }
  std::size_t pending() const { return queue_.size(); }
  // Requests that found no answer left and were cancelled for it, not by an
  // answer that said so: a scene that asks for a file nobody gave.
  std::size_t unanswered() const { return unanswered_; }

  // What each request asked for, for tests.
  struct Request {
    int32_t version;
    int32_t type;
    std::string title, fileType;
    const LWFileReqLocal *record; // whose record asked
  };
  const std::vector<Request> &requests() const { return requests_; }
  void clearRequests() { requests_.clear(); }

  // host thread
  int32_t run(int32_t version, LWFileReqLocal *request);

private:
  std::deque<std::optional<std::string>> queue_;
  std::vector<Request> requests_;
  std::size_t unanswered_ = 0;
};

} // namespace hostsim
