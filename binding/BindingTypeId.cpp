// Creation of type identity records: one table of the numbers in use keeps them distinct.
#include "binding/BindingTypeId.h"

#include <cassert>
#include <cstdio>
#include <deque>
#include <mutex>
#include <unordered_set>

namespace vyn::binding {
namespace {

struct IdentityTable {
  std::mutex mutex;
  std::unordered_set<uint32_t> numbers;
  std::deque<BindingTypeId> records;  // a deque never moves what it already holds
};

// Destroyed when the process ends or the library is unloaded, so that a host that loads and
// unloads the library repeatedly gets its memory back. Static objects destroyed later may still
// hold identity pointers but never read through them while they go.
IdentityTable& Table() {
  static IdentityTable table;
  return table;
}

// Mixes a salt into the hash; only reached when a hash is 0 or already taken.
uint32_t Rehash(uint32_t hash, uint32_t salt) noexcept {
  hash ^= salt * 0x9E3779B9u;
  hash ^= hash >> 16;
  hash *= 0x85EBCA6Bu;
  hash ^= hash >> 13;
  return hash;
}

}  // namespace

namespace type_id_internal {

const BindingTypeId& CreateTypeId(const char* signature, bool pinned, uint32_t number) {
  IdentityTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (pinned) {
    assert(table.numbers.count(number) == 0 && "two types pinned to one identity number");
  } else {
    number = Fnv1a32(signature);
    for (uint32_t salt = 1; number == 0 || table.numbers.count(number) != 0; ++salt) {
      number = Rehash(number, salt);
    }
  }
  table.numbers.insert(number);
  BindingTypeId& id = table.records.emplace_back();
  id.number = number;
  id.signature = signature;
  std::snprintf(id.numberText, sizeof(id.numberText), "#%08X", static_cast<unsigned>(number));
  return id;
}

}  // namespace type_id_internal
}  // namespace vyn::binding
