#include "error.hpp"

namespace quarn {
namespace {
const char* prefix(ErrorKind k) {
  switch (k) {
    case ErrorKind::EmptyInput: return "empty input: ";
    case ErrorKind::InvalidGeometry: return "invalid geometry: ";
    case ErrorKind::InvalidArgument: return "invalid argument: ";
    case ErrorKind::Io: return "I/O error: ";
    case ErrorKind::Parse: return "parse error: ";
    case ErrorKind::NotFound: return "not found: ";
    case ErrorKind::Cancelled: return "cancelled: ";
  }
  return "";
}
const char* kind_name(ErrorKind k) {
  switch (k) {
    case ErrorKind::EmptyInput: return "EmptyInput";
    case ErrorKind::InvalidGeometry: return "InvalidGeometry";
    case ErrorKind::InvalidArgument: return "InvalidArgument";
    case ErrorKind::Io: return "Io";
    case ErrorKind::Parse: return "Parse";
    case ErrorKind::NotFound: return "NotFound";
    case ErrorKind::Cancelled: return "Cancelled";
  }
  return "";
}
}  // namespace

std::string CoreError::display() const { return prefix(kind) + message; }

std::string CoreError::debug() const {
  std::string out = kind_name(kind);
  out += "(\"";
  out += message;
  out += "\")";
  return out;
}

}  // namespace quarn
