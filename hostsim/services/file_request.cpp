#include "hostsim/services/file_request.h"

#include <cstring>
#include <filesystem>

#include "hostsim/checks.h"
#include "hostsim/paths.h"

namespace hostsim {
namespace {

FileRequester *gCurrent = nullptr;

// The requester belongs to the host's callbacks outside evaluation, and
// writes the chosen name into the caller's three buffers.
int32_t activate(int32_t version, LWFileReqLocal *request) {
  Call call("File Request 2", "call", From::HostCallback);
  if (!call || !call.known(version == LWFILEREQ_VERSION, "the version",
                           std::to_string(version) + " is not the requester's version (" +
                               std::to_string(LWFILEREQ_VERSION) + ")") ||
      !call.pointer(request, "the request record") ||
      !call.known(request->reqType >= FREQ_LOAD && request->reqType <= FREQ_MULTILOAD, "the request kind",
                  std::to_string(request->reqType) + " is not a request kind (1 to 4)") ||
      !call.known(request->bufLen > 0, "the buffer length", "a request needs room for the name") ||
      !call.pointer(request->path, "the path buffer") || !call.pointer(request->baseName, "the base name buffer") ||
      !call.pointer(request->fullName, "the full name buffer"))
    return 1;
  return gCurrent ? gCurrent->run(version, request) : 1;
}

void copyInto(char *buf, int32_t len, const std::string &s) {
  if (!buf || len <= 0) return;
  const std::size_t n = std::min(s.size(), static_cast<std::size_t>(len - 1));
  std::memcpy(buf, s.data(), n);
  buf[n] = '\0';
}

} // namespace

FileRequester::FileRequester() = default;

FileRequester::~FileRequester() {
  if (gCurrent == this) gCurrent = nullptr;
}

LWFileActivateFunc FileRequester::func() const { return &activate; }

void FileRequester::makeCurrent() { gCurrent = this; }

int32_t FileRequester::run(int32_t version, LWFileReqLocal *request) {
  // Only the version this host knows, and only with somewhere to put the name.
  if (version != LWFILEREQ_VERSION || !request) return 1;
  requests_.push_back({version, request->reqType, request->title ? request->title : "",
                       request->fileType ? request->fileType : "", request});
  std::optional<std::string> next;
  if (!queue_.empty()) {
    next = queue_.front();
    queue_.pop_front();
  } else {
    ++unanswered_;
  }
  // A name that does not fit the caller's buffers would be cut into another
  // file's name: the requester refuses it instead.
  if (!next || next->empty() || static_cast<int64_t>(next->size()) >= request->bufLen) {
    request->result = 0;
    return 0;
  }
  const std::filesystem::path p = pathFromUtf8(*next);
  copyInto(request->fullName, request->bufLen, *next);
  copyInto(request->path, request->bufLen, utf8Of(p.parent_path()));
  copyInto(request->baseName, request->bufLen, utf8Of(p.filename()));
  request->result = 1;
  return 0;
}

} // namespace hostsim
