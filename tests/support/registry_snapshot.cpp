#include "registry_snapshot.h"

#include <stdexcept>

namespace regtest {

namespace {

// Keys in the view a 32-bit program sees, also from a 64-bit test: both
// builds keep the mode there.
constexpr REGSAM kView = KEY_WOW64_32KEY;

HKEY Open(HKEY root, const std::string& path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, access | kView, &key) != ERROR_SUCCESS) return nullptr;
  return key;
}

void Check(LONG status, const char* what) {
  if (status != ERROR_SUCCESS)
    throw std::runtime_error(std::string(what) + " failed: " + std::to_string(status));
}

// RegSetValueExA counts in a terminator the caller "forgot" when the byte
// after string data is one; a non-zero guard keeps the bytes exactly as given.
LONG SetRaw(HKEY key, const std::string& name, DWORD type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> guarded(data);
  guarded.push_back(0xFF);
  return RegSetValueExA(key, name.c_str(), 0, type, guarded.data(), static_cast<DWORD>(data.size()));
}

}  // namespace

std::vector<uint8_t> Sz(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> Unterminated(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = Open(root, path, KEY_READ);
  if (key == nullptr) return false;
  RegCloseKey(key);
  return true;
}

void CreateKey(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  Check(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &key, nullptr),
        "RegCreateKeyExA");
  RegCloseKey(key);
}

void DeleteKey(HKEY root, const std::string& path) {
  HKEY key = Open(root, path, KEY_ALL_ACCESS);
  if (key == nullptr) return;
  // RegDeleteTree empties the key; the key itself goes separately.
  const LONG status = RegDeleteTreeA(key, nullptr);
  RegCloseKey(key);
  Check(status, "RegDeleteTreeA");
  const LONG gone = RegDeleteKeyExA(root, path.c_str(), kView, 0);
  if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) Check(gone, "RegDeleteKeyExA");
}

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<uint8_t>& data) {
  CreateKey(root, path);
  HKEY key = Open(root, path, KEY_SET_VALUE);
  if (key == nullptr) throw std::runtime_error("cannot open " + path);
  const LONG status = SetRaw(key, name, type, data);
  RegCloseKey(key);
  Check(status, "RegSetValueExA");
}

void DeleteValue(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = Open(root, path, KEY_SET_VALUE);
  if (key == nullptr) return;
  RegDeleteValueA(key, name.c_str());
  RegCloseKey(key);
}

std::optional<Value> GetValue(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = Open(root, path, KEY_READ);
  if (key == nullptr) return std::nullopt;
  Value value;
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size);
    status = RegQueryValueExA(key, name.c_str(), nullptr, &value.type,
                              size == 0 ? nullptr : value.data.data(), &size);
    value.data.resize(size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

KeySnapshot::KeySnapshot(HKEY root, std::string path) : root_(root), path_(std::move(path)) {
  // Walk down the path to find the first part a test would create.
  std::string prefix;
  size_t start = 0;
  while (start <= path_.size()) {
    const size_t end = path_.find('\\', start);
    const size_t stop = end == std::string::npos ? path_.size() : end;
    prefix = path_.substr(0, stop);
    if (!KeyExists(root_, prefix)) {
      firstMissing_ = prefix;
      return;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  HKEY key = Open(root_, path_, KEY_READ);
  if (key == nullptr) throw std::runtime_error("cannot open " + path_);
  saved_ = Read(key);
  RegCloseKey(key);
}

void KeySnapshot::Restore() const {
  if (!saved_) {
    DeleteKey(root_, firstMissing_);
    return;
  }
  DeleteKey(root_, path_);
  CreateKey(root_, path_);
  HKEY key = Open(root_, path_, KEY_ALL_ACCESS);
  if (key == nullptr) throw std::runtime_error("cannot reopen " + path_);
  Write(key, *saved_);
  RegCloseKey(key);
}

KeySnapshot::Node KeySnapshot::Read(HKEY key) {
  Node node;
  DWORD subkeys = 0, maxSubkey = 0, values = 0, maxName = 0, maxData = 0;
  Check(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkey, nullptr, &values,
                         &maxName, &maxData, nullptr, nullptr),
        "RegQueryInfoKeyA");
  for (DWORD i = 0; i < values; ++i) {
    std::vector<char> name(maxName + 1);
    DWORD nameSize = maxName + 1;
    Value value;
    value.data.resize(maxData);
    DWORD dataSize = maxData;
    Check(RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &value.type,
                        maxData == 0 ? nullptr : value.data.data(), &dataSize),
          "RegEnumValueA");
    value.data.resize(dataSize);
    node.values.emplace(std::string(name.data(), nameSize), std::move(value));
  }
  for (DWORD i = 0; i < subkeys; ++i) {
    std::vector<char> name(maxSubkey + 1);
    DWORD nameSize = maxSubkey + 1;
    Check(RegEnumKeyExA(key, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr),
          "RegEnumKeyExA");
    const std::string subName(name.data(), nameSize);
    HKEY sub = Open(key, subName, KEY_READ);
    if (sub == nullptr) throw std::runtime_error("cannot open subkey " + subName);
    node.subkeys.emplace(subName, Read(sub));
    RegCloseKey(sub);
  }
  return node;
}

void KeySnapshot::Write(HKEY key, const Node& node) {
  for (const auto& [name, value] : node.values) {
    Check(SetRaw(key, name, value.type, value.data), "RegSetValueExA");
  }
  for (const auto& [name, sub] : node.subkeys) {
    HKEY child = nullptr;
    Check(RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &child, nullptr),
          "RegCreateKeyExA");
    Write(child, sub);
    RegCloseKey(child);
  }
}

}  // namespace regtest
