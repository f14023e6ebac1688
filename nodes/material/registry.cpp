#include "nodes/material/material.h"

#include <climits>

namespace juxs::material {
namespace {

// One record for the whole module, shared by every scene in the process. It
// lives in static storage: zero-filled from the start, gone with the module.
struct Registry {
  GetMaterial *gets[kListSize];
  StoreMaterial *stores[kListSize];
  int32_t getCount;
  int32_t storeCount;
  int32_t runningIdentifier; // the highest identifier counted out or loaded
  GetMaterial *live;         // every live Get Material, listed or not, chained through them
};

Registry gRegistry;

// Index of item among the first count entries, or -1.
template <class T>
int32_t indexOf(T *const (&list)[kListSize], int32_t count, const T *item) {
  for (int32_t i = 0; i < count; ++i)
    if (list[i] == item) return i;
  return -1;
}

// Removes item, keeping the order of the others.
template <class T>
void removeFrom(T *(&list)[kListSize], int32_t &count, const T *item) {
  const int32_t i = item ? indexOf(list, count, item) : -1;
  if (i < 0) return;
  for (int32_t j = i; j + 1 < count; ++j) list[j] = list[j + 1];
  list[--count] = nullptr;
}

// Identifiers are saved as their low 16 bits and read back sign-extended, by
// Store Material and Get Material alike. So the registry hands out only what
// comes back from those 16 bits as it went: the running identifier counts on
// past 32,767 as before, but what it counts is handed out as its 16 bits
// read back (32,768 as -32,768, 65,537 as 1). Below 32,768 the two are the
// same, so scenes that stay there load and save as they always did. Three
// kinds of value are skipped: -1, which reads back as "no identifier yet"
// and would be replaced at load; 0, which a Get Material reads as "(none)";
// and the 16 bits of any listed Store Material, for two Store Materials
// saved alike are one to every Get Material once loaded.
//
// A loaded identifier is kept as loaded even when a listed Store Material
// holds the same: the Get Materials saved with it refer to it, and another
// would lose them. Both are listed and the earlier-listed one is found, as
// for two scenes saved apart; what is handed out later avoids both.
//
// Usable values never run out: the Store Material being given one holds
// one of the 64 places, so at most 63 values are held by others, and with
// -1 and 0 at most 65 of the 65,536 are barred. The search ends within 66
// steps; its bound is there only so that it visibly ends (were it ever
// reached, the Store Material would keep -1, as one a full list refuses).
int32_t readBack(int32_t counted) { return static_cast<int16_t>(static_cast<uint16_t>(counted)); }

bool heldByListed(const Registry &r, int32_t identifier) {
  for (int32_t i = 0; i < r.storeCount; ++i)
    if (static_cast<uint16_t>(r.stores[i]->identifier) == static_cast<uint16_t>(identifier)) return true;
  return false;
}

int32_t handOut(Registry &r) {
  for (int32_t tries = 0; tries < 65536; ++tries) {
    // Past 2^31 - 1 the count steps back by a multiple of 65,536: only its
    // 16 bits are handed out by then.
    r.runningIdentifier = r.runningIdentifier < INT32_MAX ? r.runningIdentifier + 1 : INT32_MAX - 65535;
    const int32_t identifier = readBack(r.runningIdentifier);
    if (identifier != kUnassigned && identifier != 0 && !heldByListed(r, identifier)) return identifier;
  }
  return kUnassigned;
}

} // namespace

void registerStore(StoreMaterial *store) noexcept {
  Registry &r = gRegistry;
  if (!store) return;
  int32_t position = indexOf(r.stores, r.storeCount, store) + 1;
  if (position == 0) {
    // A full list refuses the newcomer for good: it stays unlisted with the
    // identifier it has until it registers again.
    if (r.storeCount == kListSize) return;
    r.stores[r.storeCount++] = store;
    position = r.storeCount;
  }
  if (store->identifier == kUnassigned)
    store->identifier = handOut(r);
  else if (store->identifier > r.runningIdentifier)
    r.runningIdentifier = store->identifier;
  // Get Materials loaded before their Store Material learn where it now sits.
  for (int32_t i = 0; i < r.getCount; ++i)
    if (r.gets[i]->identifier == store->identifier) r.gets[i]->position = position;
}

void unregisterStore(StoreMaterial *store) noexcept { removeFrom(gRegistry.stores, gRegistry.storeCount, store); }

void registerGet(GetMaterial *get) noexcept {
  Registry &r = gRegistry;
  if (!get || indexOf(r.gets, r.getCount, get) >= 0 || r.getCount == kListSize) return;
  r.gets[r.getCount++] = get;
}

void unregisterGet(GetMaterial *get) noexcept { removeFrom(gRegistry.gets, gRegistry.getCount, get); }

int32_t popupCount(void *) noexcept { return gRegistry.storeCount + 1; }

const char *popupName(void *, int32_t index) noexcept {
  if (index == 0) return "(none)";
  if (index < 1 || index > gRegistry.storeCount) return "(error)";
  return gRegistry.stores[index - 1]->name;
}

int32_t identifierAt(int32_t position) noexcept {
  if (position < 1 || position > gRegistry.storeCount) return 0;
  return gRegistry.stores[position - 1]->identifier;
}

const StoreMaterial *findByIdentifier(int32_t identifier) noexcept {
  for (int32_t i = 0; i < gRegistry.storeCount; ++i)
    if (gRegistry.stores[i]->identifier == identifier) return gRegistry.stores[i];
  return nullptr;
}

RegistryState registryState() noexcept {
  RegistryState state{gRegistry.storeCount, gRegistry.getCount, gRegistry.runningIdentifier, {}};
  for (int32_t i = 0; i < gRegistry.storeCount; ++i) state.identifiers[i] = gRegistry.stores[i]->identifier;
  return state;
}

void linkLive(GetMaterial *get) noexcept {
  if (!get) return;
  get->prevLive = nullptr;
  get->nextLive = gRegistry.live;
  if (gRegistry.live) gRegistry.live->prevLive = get;
  gRegistry.live = get;
}

void unlinkLive(GetMaterial *get) noexcept {
  if (!get) return;
  if (get->prevLive)
    get->prevLive->nextLive = get->nextLive;
  else if (gRegistry.live == get)
    gRegistry.live = get->nextLive;
  if (get->nextLive) get->nextLive->prevLive = get->prevLive;
  get->prevLive = get->nextLive = nullptr;
}

void forgetStore(const StoreMaterial *store) noexcept {
  for (GetMaterial *g = gRegistry.live; g; g = g->nextLive)
    if (g->resolved == store) g->resolved = nullptr;
}

} // namespace juxs::material
