#include "io/fault_injection.h"

#include <atomic>

namespace velador::fault_injection {

namespace {

std::atomic<FaultInjector*> injector{nullptr};

}  // namespace

void SetFaultInjector(FaultInjector* newInjector) {
  injector.store(newInjector, std::memory_order_release);
}

bool Fails(Point point) {
  if (injector.load(std::memory_order_relaxed) == nullptr) return false;
  // Loaded again with acquire, so that the injector is seen whole as it was set.
  FaultInjector* const current = injector.load(std::memory_order_acquire);
  return current != nullptr && current->Fails(point);
}

void OnDisk(const std::string& path) {
  if (injector.load(std::memory_order_relaxed) == nullptr) return;
  FaultInjector* const current = injector.load(std::memory_order_acquire);
  if (current != nullptr) current->OnDisk(path);
}

std::string NameOnDisk(const std::string& path) {
  if (injector.load(std::memory_order_relaxed) == nullptr) return path;
  FaultInjector* const current = injector.load(std::memory_order_acquire);
  return current != nullptr ? current->NameOnDisk(path) : path;
}

}  // namespace velador::fault_injection
