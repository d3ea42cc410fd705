#include "wire/helper_protocol.h"

#include <cstdlib>
#include <cstring>

namespace wire {

namespace {

constexpr char kHeader[] = "NORZA-DEVICE-HELPER 1";

// The installation's texts, in the order they travel: written and read from
// this one table.
struct InstallText {
  const char* keyword;
  char (InstallRequest::*text)[wire::kTextSize];
};
constexpr InstallText kInstallTexts[] = {
    {"DIR", &InstallRequest::infDir}, {"NAME", &InstallRequest::infName}, {"HWID", &InstallRequest::hardwareId}};

void AppendLine(wire::Text& out, const char* keyword, int64_t number) {
  out.Append(keyword);
  out.Append(" ");
  out.AppendNumber(number);
  out.Append("\n");
}

void AppendHexLine(wire::Text& out, const char* keyword, const char* text) {
  out.Append(keyword);
  out.Append(" ");
  out.AppendHex(text);
  out.Append("\n");
}

// The header, then the second line.
bool BeginRequest(wire::Lines& lines, const char** line, std::size_t* length) {
  return lines.NextIs(kHeader) && lines.Next(line, length);
}

}  // namespace

RequestKind KindOfRequest(const char* data, std::size_t size) {
  wire::Lines lines(data, size);
  const char* line;
  std::size_t length;
  const char* value;
  std::size_t valueLength;
  if (!BeginRequest(lines, &line, &length)) return RequestKind::None;
  if (wire::Field(line, length, "INSTALL", &value, &valueLength)) return RequestKind::Install;
  if (wire::Field(line, length, "STATE", &value, &valueLength)) return RequestKind::StateChange;
  return RequestKind::None;
}

bool StateChangeRequest::BeginBatch(uint32_t stateChange) {
  if ((stateChange != 1 && stateChange != 2) || batchCount_ == kMaxBatches ||
      (batchCount_ != 0 && batches_[batchCount_ - 1].count == 0)) {
    return false;
  }
  Batch& batch = batches_[batchCount_++];
  batch.stateChange = stateChange;
  batch.first = ids_.size();
  batch.count = 0;
  return true;
}

bool StateChangeRequest::AddDevice(const char* id) {
  const std::size_t length = id != nullptr ? std::strlen(id) : 0;
  if (batchCount_ == 0 || ids_.size() == kMaxDevices || length == 0 || length > wire::kMaxText) return false;
  IdText copy;
  std::memcpy(copy.text, id, length + 1);
  if (!ids_.Add(copy)) return false;
  ++batches_[batchCount_ - 1].count;
  return true;
}

void WriteStateChangeRequest(wire::Text& out, const StateChangeRequest& request) {
  out.Append(kHeader);
  out.Append("\n");
  for (std::size_t b = 0; b < request.batchCount(); ++b) {
    const StateChangeRequest::Batch& batch = request.batch(b);
    AppendLine(out, "STATE", batch.stateChange);
    for (std::size_t i = batch.first; i < batch.first + batch.count; ++i) AppendHexLine(out, "ID", request.id(i));
  }
  out.AppendEnd();
}

bool ParseStateChangeRequest(const char* data, std::size_t size, StateChangeRequest& out) {
  wire::Lines lines(data, size);
  const char* line;
  std::size_t length;
  if (!BeginRequest(lines, &line, &length)) return false;
  for (;;) {
    const char* value;
    std::size_t valueLength;
    int64_t number = 0;
    if (wire::Equals(line, length, wire::kEndLine)) return out.Complete() && lines.AtEnd();
    if (wire::Field(line, length, "STATE", &value, &valueLength)) {
      if (!wire::DecodeNumber(value, valueLength, 1, 2, &number) || !out.BeginBatch(static_cast<uint32_t>(number))) {
        return false;
      }
    } else {
      char id[wire::kTextSize];
      if (!wire::Field(line, length, "ID", &value, &valueLength) || !wire::DecodeHex(value, valueLength, id) ||
          !out.AddDevice(id)) {
        return false;
      }
    }
    if (!lines.Next(&line, &length)) return false;
  }
}

void WriteInstallRequest(wire::Text& out, const InstallRequest& request) {
  out.Append(kHeader);
  out.Append("\n");
  AppendLine(out, "INSTALL", request.buttonId);
  for (const InstallText& field : kInstallTexts) AppendHexLine(out, field.keyword, request.*field.text);
  out.AppendEnd();
}

bool ParseInstallRequest(const char* data, std::size_t size, InstallRequest& out) {
  wire::Lines lines(data, size);
  const char* line;
  std::size_t length;
  const char* value;
  std::size_t valueLength;
  int64_t number = 0;
  if (!BeginRequest(lines, &line, &length) || !wire::Field(line, length, "INSTALL", &value, &valueLength) ||
      !wire::DecodeNumber(value, valueLength, INT32_MIN, INT32_MAX, &number)) {
    return false;
  }
  out.buttonId = static_cast<int32_t>(number);
  for (const InstallText& field : kInstallTexts) {
    // An empty text is the keyword and a space.
    if (!lines.Next(&line, &length) || !wire::Field(line, length, field.keyword, &value, &valueLength) ||
        !wire::DecodeHex(value, valueLength, out.*field.text)) {
      return false;
    }
  }
  return lines.AtEndLine();
}

bool ParseStateChangeAnswer(const char* data, std::size_t size, DeviceOutcome* const* slots, std::size_t count) {
  Lines lines(data, size);
  return ReadOutcomes(lines, slots, count) && lines.AtEndLine();
}

void WriteInstallAnswer(wire::Text& out, bool installed, uint32_t error) {
  out.Append(installed ? "INSTALLED 1 " : "INSTALLED 0 ");
  out.AppendNumber(error);
  out.Append("\n");
  out.AppendEnd();
}

bool ParseInstallAnswer(const char* data, std::size_t size, bool* installed, uint32_t* error) {
  wire::Lines lines(data, size);
  const char* line;
  std::size_t length;
  const char* value;
  std::size_t valueLength;
  if (!lines.Next(&line, &length) || !wire::Field(line, length, "INSTALLED", &value, &valueLength) ||
      valueLength < 3 || (value[0] != '0' && value[0] != '1') || value[1] != ' ') {
    return false;
  }
  int64_t number = 0;
  if (!wire::DecodeNumber(value + 2, valueLength - 2, 0, UINT32_MAX, &number)) return false;
  const bool success = value[0] == '1';
  if (success != (number == 0 || number == kRestartNeeded) || !lines.AtEndLine()) return false;
  *installed = success;
  *error = static_cast<uint32_t>(number);
  return true;
}

}  // namespace wire
