// The host's JSON error object and the phrases of the statuses it sends.
#include "host/HttpMessage.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace vyn::host {
namespace {

const char* ErrorCodeForStatus(int status) {
  switch (status) {
    case 400:
      return "BAD_REQUEST";
    case 404:
      return "NOT_FOUND";
    case 405:
      return "METHOD_NOT_ALLOWED";
    case 408:
      return "REQUEST_TIMEOUT";
    case 413:
      return "PAYLOAD_TOO_LARGE";
    case 414:
      return "URI_TOO_LONG";
    case 431:
      return "HEADERS_TOO_LARGE";
    case 501:
      return "NOT_IMPLEMENTED";
    case 502:
      return "BAD_GATEWAY";
    case 503:
      return "UNAVAILABLE";
    default:
      return status >= 500 ? "INTERNAL_ERROR" : "REQUEST_FAILED";
  }
}

}  // namespace

HttpReply ErrorReply(int status, const std::string& message) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("errorCode");
  writer.String(ErrorCodeForStatus(status));
  writer.Key("httpStatus");
  writer.Int(status);
  writer.Key("message");
  writer.String(message.data(), static_cast<rapidjson::SizeType>(message.size()), true);
  writer.EndObject();
  HttpReply reply;
  reply.status = status;
  reply.contentType = "application/json";
  reply.body.assign(buffer.GetString(), buffer.GetSize());
  return reply;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Unknown";
  }
}

}  // namespace vyn::host
