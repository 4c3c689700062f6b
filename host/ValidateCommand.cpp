// vyn-host validate.
#include "host/ValidateCommand.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "host/ValidateCalls.h"
#include "host/ValidateChecks.h"
#include "host/ValidateChild.h"
#include "host/ValidateHost.h"

namespace vyn::host {
namespace {

// Generous: strictness 10 runs thousands of calls in one check on a slow, shared machine.
constexpr int kCheckTimeoutSeconds = 300;

struct CheckRecord {
  std::string name;
  bool passed = false;
  int64_t milliseconds = 0;
  std::string reason;
  std::string input;
};

// Each check draws its inputs from its own seed, so a check run alone (--only) sees the same
// inputs as in a full run.
uint64_t SeedFor(uint64_t seed, const std::string& name) {
  uint64_t hash = 1469598103934665603u;
  for (unsigned char c : name) hash = (hash ^ c) * 1099511628211u;
  return seed ^ hash;
}

bool ParseNumber(const std::string& text, uint64_t& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  out = std::strtoull(text.c_str(), nullptr, 10);
  return errno == 0;
}

class Validation {
 public:
  explicit Validation(const ValidateOptions& options) : options_(options) {}

  bool Selected(const std::string& name) const {
    if (options_.only.empty()) return true;
    for (const std::string& only : options_.only) {
      if (name == only || name.rfind(only + ".", 0) == 0) return true;
    }
    return false;
  }

  // Runs a check whose verdict is its child's.
  void Check(const std::string& name,
             const std::function<void(const std::string&, uint64_t, ChildProbe&)>& body) {
    if (!Selected(name)) return;
    const uint64_t seed = SeedFor(options_.seed, name);
    const ChildResult child = RunInChild(
        [&](ChildProbe& probe) { body(options_.pluginPath, seed, probe); }, kCheckTimeoutSeconds);
    Record({name, !child.failed, child.milliseconds, child.reason, child.input});
  }

  void IncompatibleHosts() {
    const std::string name = "library.incompatible-host";
    if (!Selected(name)) return;
    CheckRecord record{name, true, 0, "", ""};
    const uint32_t versions[][3] = {{kHostMajor + 1, 0, 0}, {kHostMajor - 1, 99, 99}};
    for (const auto& v : versions) {
      const std::string version =
          std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]);
      const ChildResult child = RunInChild(
          [&](ChildProbe& probe) { LoadUnderHost(options_.pluginPath, v[0], v[1], v[2], probe); },
          kCheckTimeoutSeconds);
      record.milliseconds += child.milliseconds;
      const std::string verdict = IncompatibleHostVerdict(child, version);
      if (!verdict.empty() && record.passed) {
        record.passed = false;
        record.reason = verdict;
      }
    }
    Record(std::move(record));
  }

  // What the plugin offers to call and to deliver to, from a child that starts it.
  bool Discover(std::vector<std::string>& endpoints, std::vector<std::string>& events) {
    const ChildResult child =
        RunInChild([&](ChildProbe& probe) { host::Discover(options_.pluginPath, probe); },
                   kCheckTimeoutSeconds);
    if (child.failed) {
      Record({"discovery", false, child.milliseconds,
              "the plugin could not be started to list its endpoints and events: " + child.reason,
              ""});
      return false;
    }
    std::istringstream lines(child.notes);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("endpoint ", 0) == 0) endpoints.push_back(line.substr(9));
      if (line.rfind("event ", 0) == 0) events.push_back(line.substr(6));
    }
    return true;
  }

  int Finish() {
    size_t failed = 0;
    for (const CheckRecord& record : records_) failed += record.passed ? 0 : 1;
    std::printf("%zu passed, %zu failed\n", records_.size() - failed, failed);
    std::fflush(stdout);
    if (!options_.reportPath.empty() && !WriteReport(failed)) {
      std::fprintf(stderr, "vyn-host: cannot write the report %s\n", options_.reportPath.c_str());
      return 1;
    }
    return failed == 0 ? 0 : 1;
  }

 private:
  void Record(CheckRecord record) {
    if (record.passed) {
      std::printf("PASS %s (%lld ms)\n", record.name.c_str(),
                  static_cast<long long>(record.milliseconds));
    } else {
      std::printf("FAIL %s: %s; seed %llu%s%s\n", record.name.c_str(), record.reason.c_str(),
                  static_cast<unsigned long long>(options_.seed),
                  record.input.empty() ? "" : "; input ", record.input.c_str());
    }
    std::fflush(stdout);
    records_.push_back(std::move(record));
  }

  bool WriteReport(size_t failed) const {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
    w.SetIndent(' ', 2);
    auto text = [&](const char* key, const std::string& value) {
      w.Key(key);
      w.String(value.data(), static_cast<rapidjson::SizeType>(value.size()), true);
    };
    w.StartObject();
    text("plugin", options_.pluginPath);
    w.Key("strictness");
    w.Int(options_.strictness);
    w.Key("seed");
    w.Uint64(options_.seed);
    w.Key("checks");
    w.StartArray();
    for (const CheckRecord& record : records_) {
      w.StartObject();
      text("name", record.name);
      w.Key("passed");
      w.Bool(record.passed);
      w.Key("milliseconds");
      w.Int64(record.milliseconds);
      if (!record.passed) {
        text("reason", record.reason);
        text("input", record.input);
      }
      w.EndObject();
    }
    w.EndArray();
    w.Key("passed");
    w.Uint64(records_.size() - failed);
    w.Key("failed");
    w.Uint64(failed);
    w.EndObject();
    std::ofstream out(options_.reportPath, std::ios::binary);
    out << buffer.GetString() << "\n";
    return static_cast<bool>(out);
  }

  const ValidateOptions& options_;
  std::vector<CheckRecord> records_;
};

}  // namespace

bool ParseValidateOptions(const std::vector<std::string>& args, ValidateOptions& options,
                          std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) return error = "the option '" + option + "' needs a value", false;
    const std::string& value = args[++i];
    uint64_t number = 0;
    if (option == "--strictness") {
      if (!ParseNumber(value, number) || number < 1 || number > 10) {
        return error = "the strictness is a whole number from 1 to 10", false;
      }
      options.strictness = static_cast<int>(number);
    } else if (option == "--seed") {
      if (!ParseNumber(value, number)) return error = "the seed is a whole number", false;
      options.seed = number;
      options.seedGiven = true;
    } else if (option == "--json") {
      options.reportPath = value;
    } else if (option == "--only") {
      options.only.push_back(value);
    } else {
      return error = "unknown option '" + option + "'", false;
    }
  }
  return true;
}

int RunValidate(ValidateOptions options) {
  if (!options.seedGiven) options.seed = std::random_device{}();
  // The loader looks a bare file name up in the library path; the validator checks the file named.
  if (options.pluginPath.find('/') == std::string::npos) options.pluginPath.insert(0, "./");
  std::printf("validating %s at strictness %d, seed %llu\n", options.pluginPath.c_str(),
              options.strictness, static_cast<unsigned long long>(options.seed));
  std::fflush(stdout);
  Validation validation(options);
  auto plain = [](void (*check)(const std::string&, ChildProbe&)) {
    return [check](const std::string& path, uint64_t, ChildProbe& probe) { check(path, probe); };
  };
  validation.Check("library.exports", plain(CheckExports));
  validation.Check("library.compatible-host", plain(CheckCompatibleHost));
  validation.IncompatibleHosts();
  validation.Check("library.load-block", plain(CheckLoadBlock));
  validation.Check("api.descriptors", plain(CheckDescriptors));
  validation.Check("api.unique-names", plain(CheckUniqueNames));
  validation.Check("api.type-references", plain(CheckTypeReferences));
  validation.Check("api.json-round-trip", plain(CheckJsonRoundTrip));
  validation.Check("lifecycle", plain(CheckLifecycle));

  bool wanted = options.only.empty();
  for (const std::string& only : options.only) {
    wanted = wanted || only.rfind("endpoint", 0) == 0 || only.rfind("events", 0) == 0;
  }
  std::vector<std::string> endpoints, events;
  if (wanted && validation.Discover(endpoints, events)) {
    const size_t count = InputsAt(options.strictness);
    for (const std::string& function : endpoints) {
      for (EndpointInputs inputs :
           {EndpointInputs::WellFormed, EndpointInputs::Malformed, EndpointInputs::Misuse}) {
        validation.Check("endpoint." + function + "." + NameOf(inputs),
                         [&](const std::string& path, uint64_t seed, ChildProbe& probe) {
                           CheckEndpoint(path, function, inputs, count, seed, probe);
                         });
      }
    }
    for (const std::string& event : events) {
      validation.Check("events." + event,
                       [&](const std::string& path, uint64_t seed, ChildProbe& probe) {
                         CheckEvents(path, event, count, seed, probe);
                       });
    }
  }
  return validation.Finish();
}

}  // namespace vyn::host
