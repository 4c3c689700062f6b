// Outgoing HTTP(S) requests through libcurl.
#include "host/OutgoingHttp.h"

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

namespace vyn::host {
namespace {

constexpr long kConnectTimeoutSeconds = 10;
// The plugin holds the whole answer in memory; larger answers are refused, not truncated.
constexpr size_t kMaxBody = 64u << 20;

struct Receiver {
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool tooLarge = false;
};

size_t ReceiveBody(char* data, size_t size, size_t count, void* user) {
  auto* receiver = static_cast<Receiver*>(user);
  const size_t bytes = size * count;
  if (receiver->body.size() + bytes > kMaxBody) {
    receiver->tooLarge = true;
    return 0;
  }
  receiver->body.append(data, bytes);
  return bytes;
}

std::string Trim(std::string text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

size_t ReceiveHeader(char* data, size_t size, size_t count, void* user) {
  auto* receiver = static_cast<Receiver*>(user);
  const size_t bytes = size * count;
  const std::string line(data, bytes);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (after an interim 100 answer, say): only the last answer's headers count.
    receiver->headers.clear();
    return bytes;
  }
  const size_t colon = line.find(':');
  if (colon != std::string::npos) {
    receiver->headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
  }
  return bytes;
}

// Requests in flight, each on a multi handle of its own that a cancel can wake.
std::mutex gActiveMutex;  // guards gActive
std::set<CURLM*> gActive;
std::atomic<bool> gCancelled{false};

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

// Drives the transfer and returns its outcome; CURLE_ABORTED_BY_CALLBACK after a cancel.
CURLcode Perform(CURL* handle) {
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi) return CURLE_OUT_OF_MEMORY;
  curl_multi_add_handle(multi.get(), handle);
  {
    std::lock_guard<std::mutex> lock(gActiveMutex);
    gActive.insert(multi.get());
  }
  CURLcode code = CURLE_OK;
  for (;;) {
    if (gCancelled) {
      code = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      code = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      const CURLMsg* message = curl_multi_info_read(multi.get(), &left);
      code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                : CURLE_FAILED_INIT;
      break;
    }
    curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
  }
  {
    std::lock_guard<std::mutex> lock(gActiveMutex);
    gActive.erase(multi.get());
  }
  curl_multi_remove_handle(multi.get(), handle);
  return code;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

OutgoingResponse Failure(int32_t transport, std::string text) {
  OutgoingResponse response;
  response.transport = transport;
  response.body = std::move(text);
  return response;
}

}  // namespace

void InitializeOutgoingHttp() { curl_global_init(CURL_GLOBAL_DEFAULT); }

void CleanupOutgoingHttp() { curl_global_cleanup(); }

void CancelOutgoing() {
  gCancelled = true;
  std::lock_guard<std::mutex> lock(gActiveMutex);
  for (CURLM* multi : gActive) curl_multi_wakeup(multi);
}

OutgoingResponse SendOutgoing(const OutgoingRequest& request) {
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return Failure(kTransportFailed, "the HTTP client cannot be created");
  CURL* handle = curl.get();

  std::unique_ptr<curl_slist, ListDeleter> headers;
  auto addHeader = [&](const std::string& line) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown != nullptr) {
      static_cast<void>(headers.release());
      headers.reset(grown);
    }
  };
  for (const auto& [name, value] : request.headers) {
    // "Name;" is libcurl's spelling of a header with an empty value.
    addHeader(value.empty() ? name + ";" : name + ": " + value);
  }
  // No "Expect: 100-continue" round trip for larger bodies.
  addHeader("Expect:");

  Receiver receiver;
  char errorText[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, request.timeoutSeconds);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, ReceiveBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &receiver);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, ReceiveHeader);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, &receiver);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());

  if (request.method == "GET") {
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "HEAD") {
    curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  // A body on GET or HEAD would turn the request into a POST; it is not sent there.
  const bool bodyless = request.method == "GET" || request.method == "HEAD";
  if (!bodyless && (!request.body.empty() || request.method == "POST" || request.method == "PUT" ||
                    request.method == "PATCH")) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
  }

  const CURLcode code = Perform(handle);
  if (code == CURLE_ABORTED_BY_CALLBACK && gCancelled) {
    return Failure(kTransportFailed, "the host is stopping");
  }
  if (code != CURLE_OK) {
    if (receiver.tooLarge) {
      return Failure(kTransportFailed,
                     "the answer is larger than " + std::to_string(kMaxBody) + " bytes");
    }
    std::string text = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    return Failure(code == CURLE_OPERATION_TIMEDOUT ? kTransportTimedOut : kTransportFailed,
                   std::move(text));
  }
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  OutgoingResponse response;
  response.transport = kTransportOk;
  response.status = static_cast<uint32_t>(status);
  response.headers = std::move(receiver.headers);
  response.body = std::move(receiver.body);
  return response;
}

}  // namespace vyn::host
