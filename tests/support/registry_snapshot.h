// Test helpers for the real (Wine) registry: read and write raw values, and
// put keys back as they were after a test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace regtest {

struct Value {
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
  bool operator==(const Value& other) const { return type == other.type && data == other.data; }
};

// Bytes of a string with its terminator, or without one.
std::vector<uint8_t> Sz(const std::string& text);
std::vector<uint8_t> Unterminated(const std::string& text);

bool KeyExists(HKEY root, const std::string& path);
void CreateKey(HKEY root, const std::string& path);
void DeleteKey(HKEY root, const std::string& path);  // with everything below it
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<uint8_t>& data);
void DeleteValue(HKEY root, const std::string& path, const std::string& name);
std::optional<Value> GetValue(HKEY root, const std::string& path, const std::string& name);

// Records a key (values and subkeys, recursively) and which parts of its path
// existed; Restore() returns all of it to that state.
class KeySnapshot {
 public:
  KeySnapshot(HKEY root, std::string path);
  void Restore() const;

 private:
  struct Node {
    std::map<std::string, Value> values;
    std::map<std::string, Node> subkeys;
  };
  static Node Read(HKEY key);
  static void Write(HKEY key, const Node& node);

  HKEY root_;
  std::string path_;
  std::string firstMissing_;  // shallowest part of the path that did not exist
  std::optional<Node> saved_;
};

}  // namespace regtest
