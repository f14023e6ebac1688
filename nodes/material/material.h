// Material passing: the records of Store Material and Get Material, and the
// module-wide registry through which a Get Material finds its Store Material.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/node_kind.h"
#include "host/lw_host.h"

namespace juxs::material {

inline constexpr int32_t kListSize = 64;
inline constexpr int32_t kUnassigned = -1; // a Store Material's identifier before the registry gives one
// The name as persisted: at most 256 bytes with the terminator.
inline constexpr std::size_t kNameCapacity = 256;

// The four channels a material carries, in input and output order.
enum Channel { kColor, kScalar, kVector, kInteger, kChannelCount };

struct StoreMaterial {
  int32_t identifier;
  char name[kNameCapacity];
  LWXPanelID panel;
  NodeID node;
  NodeInputID inputs[kChannelCount];
  NodeOutputID outputs[kChannelCount];
};

struct GetMaterial {
  int32_t position;   // popup item: 0 "(none)", k the k-th listed Store Material
  int32_t identifier; // of the chosen Store Material; 0 none
  // Found at render start; cleared when that Store Material is destroyed or
  // copied over, so evaluation never reaches a freed one.
  const StoreMaterial *resolved;
  LWXPanelID panel;
  NodeID node;
  NodeOutputID outputs[kChannelCount];
  // Every live Get Material, listed in the registry or not.
  GetMaterial *prevLive;
  GetMaterial *nextLive;
};

// The registry. host thread only: never called while evaluating.
void registerStore(StoreMaterial *store) noexcept;
void unregisterStore(StoreMaterial *store) noexcept;
void registerGet(GetMaterial *get) noexcept;
void unregisterGet(GetMaterial *get) noexcept;
// The "Slot" popup: "(none)", then the listed Store Materials by name.
int32_t popupCount(void *userData) noexcept;
const char *popupName(void *userData, int32_t index) noexcept;
int32_t identifierAt(int32_t position) noexcept;
const StoreMaterial *findByIdentifier(int32_t identifier) noexcept;

// What the registry holds, for the report of a fault that may depend on
// what earlier work left in it (a fuzz run's, say).
struct RegistryState {
  int32_t storeCount;
  int32_t getCount;
  int32_t runningIdentifier;
  int32_t identifiers[kListSize]; // of the listed Store Materials, in list order
};
RegistryState registryState() noexcept;

// Every Get Material from create to destroy, so that a Store Material that
// goes away can be forgotten by all that resolved it.
void linkLive(GetMaterial *get) noexcept;
void unlinkLive(GetMaterial *get) noexcept;
void forgetStore(const StoreMaterial *store) noexcept;

// Evaluates the store's input for the requested output, told apart by the
// caller's own outputs, in the caller's shading context, and sets the output
// to it. render threads, concurrently
void passOn(const fw::Services &svc, const NodeOutputID (&outputs)[kChannelCount], const StoreMaterial &store,
            NodeOutputID output, LWNodalAccess *na, NodeValue value) noexcept;

} // namespace juxs::material
