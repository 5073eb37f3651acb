#include "app/OutputPlan.h"

#include <limits.h>
#include <stdlib.h>

#include <memory>
#include <unordered_set>

namespace klarwell {

namespace {

// realpath() of an existing path; empty when it cannot be resolved.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

std::string ResolvedPath(const std::string& path) {
  if (path.empty()) return path;
  // An existing file resolves whole, so a symbolic link to it compares equal to its target.
  std::string whole = RealPath(path);
  if (!whole.empty()) return whole;
  // A file still to be written resolves by its folder; a folder that does not exist leaves the name
  // as given, which can still be compared with other names given the same way.
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string resolvedFolder = RealPath(folder);
  if (resolvedFolder.empty()) return path;
  return resolvedFolder == "/" ? "/" + name : resolvedFolder + "/" + name;
}

std::vector<TOutputPlanEntry> PlanOutputs(const std::vector<std::string>& inputs,
                                          const TOutputSettings& settings) {
  std::vector<std::string> resolvedInputs;
  resolvedInputs.reserve(inputs.size());
  for (const std::string& in : inputs) resolvedInputs.push_back(ResolvedPath(in));

  std::vector<TOutputPlanEntry> plan;
  plan.reserve(inputs.size());
  std::unordered_set<std::string> claimed;
  for (size_t i = 0; i < inputs.size(); ++i) {
    TOutputPlanEntry entry;
    entry.OutputPath = OutputFileName(inputs[i], settings);
    const std::string resolved = ResolvedPath(entry.OutputPath);
    bool isOtherInput = false;
    for (size_t k = 0; k < inputs.size() && !isOtherInput; ++k)
      isOtherInput = k != i && resolvedInputs[k] == resolved && resolvedInputs[i] != resolved;
    entry.Taken = isOtherInput || !claimed.insert(resolved).second;
    plan.push_back(std::move(entry));
  }
  return plan;
}

}  // namespace klarwell
