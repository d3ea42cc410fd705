// MatchIdPattern against fnmatch(3) (FNM_CASEFOLD | FNM_NOESCAPE) over
// 100,000 instance-ID-like strings. Prints ns per match and the ratio.
#include <fnmatch.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "devicecontrol/device_pattern.h"

namespace {

constexpr int kIds = 100000;
constexpr int kRounds = 5;

std::string Hex(std::mt19937& rng, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < digits; ++i) s += kDigits[rng() % 16];
  return s;
}

std::string InstanceSuffix(std::mt19937& rng) {
  return std::to_string(rng() % 9 + 1) + "&" + Hex(rng, 6 + rng() % 3) + "&0&" + Hex(rng, 4);
}

std::vector<std::string> MakeIds() {
  std::mt19937 rng(20260512);
  static const char* const kInterfaces[] = {"00", "01", "03", "08", "02"};
  static const char* const kOthers[] = {
      "USB\\VID_046D&PID_C52B\\", "USB\\VID_7E51&PID_0001&MI_00\\", "USB\\ROOT_HUB30\\",
      "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0256&SUBSYS_10280A2E&REV_1000\\",
      "ACPI\\PNP0C0A\\", "ROOT\\LEGACY_NDIS\\", "SWD\\MMDEVAPI\\{0.0.0.00000000}.{",
      "USB\\VID_7E51&PID_0002\\"};
  std::vector<std::string> ids;
  ids.reserve(kIds);
  for (int i = 0; i < kIds; ++i) {
    std::string id;
    switch (rng() % 4) {
      case 0:  // the interface's own functions, in either case
        id = "USB\\VID_7E51&PID_0002&MI_" + std::string(kInterfaces[rng() % 5]) + "\\" + InstanceSuffix(rng);
        if (rng() % 2) std::transform(id.begin(), id.end(), id.begin(), ::tolower);
        break;
      case 1:
        id = "PCI\\VEN_8086&DEV_" + Hex(rng, 4) + "&SUBSYS_" + Hex(rng, 8) + "&REV_" + Hex(rng, 2) + "\\" +
             InstanceSuffix(rng);
        break;
      default:
        id = kOthers[rng() % (sizeof kOthers / sizeof kOthers[0])] + InstanceSuffix(rng);
        break;
    }
    ids.push_back(id);
  }
  return ids;
}

struct Row {
  const char* name;
  std::vector<const char*> patterns;  // as written, "@" included
};

template <typename MatchOne>
double NsPerId(const std::vector<std::string>& ids, MatchOne match, long* hits) {
  double best = 1e300;
  for (int round = 0; round < kRounds; ++round) {
    long count = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& id : ids) count += match(id.c_str()) ? 1 : 0;
    const auto end = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(end - start).count() / ids.size());
    *hits = count;
  }
  return best;
}

}  // namespace

int main() {
  const std::vector<std::string> ids = MakeIds();
  const Row rows[] = {
      {"interface list MI_00, MI_03",
       {"@USB\\VID_7E51&PID_0002&MI_00\\*", "@USB\\VID_7E51&PID_0002&MI_03\\*"}},
      {"interface list MI_08", {"@USB\\VID_7E51&PID_0002&MI_08\\*"}},
      {"*VID_7E51*PID_0002*", {"*VID_7E51*PID_0002*"}},
      {"USB\\*7E51*MI_0*\\*&0&*", {"USB\\*7E51*MI_0*\\*&0&*"}},
      {"*&*&*&*&0000", {"*&*&*&*&0000"}},
      {"*a*b*c*d*e*", {"*a*b*c*d*e*"}},
      {"*", {"*"}},
  };

  std::printf("%d ids, best of %d rounds, ns per id (a list counts as one match)\n\n", kIds, kRounds);
  std::printf("%-30s %8s %12s %12s %10s\n", "pattern", "matches", "idtext ns", "fnmatch ns", "fn/idtext");
  int disagreements = 0;
  for (const Row& row : rows) {
    std::vector<devicecontrol::DevicePattern> parsed;
    std::vector<const char*> texts;  // what fnmatch sees: the text after the prefix
    for (const char* p : row.patterns) {
      parsed.push_back(devicecontrol::ParseDevicePattern(p));
      texts.push_back(parsed.back().text);
    }
    long ours = 0, theirs = 0;
    const double oursNs = NsPerId(ids, [&](const char* id) {
      for (const devicecontrol::DevicePattern& p : parsed) {
        if (devicecontrol::MatchIdPattern(id, p)) return true;
      }
      return false;
    }, &ours);
    const double theirsNs = NsPerId(ids, [&](const char* id) {
      for (const char* t : texts) {
        if (fnmatch(t, id, FNM_CASEFOLD | FNM_NOESCAPE) == 0) return true;
      }
      return false;
    }, &theirs);
    if (ours != theirs) ++disagreements;
    std::printf("%-30s %8ld %12.1f %12.1f %10.2f%s\n", row.name, ours, oursNs, theirsNs, theirsNs / oursNs,
                ours != theirs ? "  (fnmatch disagrees)" : "");
  }
  return disagreements == 0 ? 0 : 1;
}
